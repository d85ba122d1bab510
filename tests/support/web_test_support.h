#pragma once

#include <cstdint>
#include <string>

// Small helpers shared by the tests that talk HTTP to 127.0.0.1.

// Requests in tests go to 127.0.0.1 only: no proxy from the environment may catch them.
void ClearProxyEnvironment();

// A local port that nothing listens on.
int ClosedPort();

std::string LocalUrl(int port, const std::string& path, const std::string& scheme = "http");

// `count` bytes of a repeatable pattern with no zero bytes in it.
std::string PatternBytes(size_t count, char seed = 'a');

// The 4-byte little-endian size header of a downloaded file.
std::string SizeHeader(uint32_t size);
