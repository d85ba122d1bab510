#pragma once

#include <cstdint>
#include <string>

// Small helpers shared by the tests that talk HTTP to 127.0.0.1.

// Requests in tests go to 127.0.0.1 only: no proxy from the environment may catch them.
void ClearProxyEnvironment();

// A local port that nothing listens on.
int ClosedPort();

// A socket listening on 127.0.0.1 at a free port (stored in `port`); a receive buffer
// of `receiveBuffer` bytes unless 0. Throws when it cannot listen.
int ListenOnLoopback(int& port, int receiveBuffer = 0);

// The status line answered on 127.0.0.1:`port` to `request`, sent exactly as written
// (no client tidies it); empty when no answer came within 5 s.
std::string StatusLine(int port, const std::string& request);

std::string LocalUrl(int port, const std::string& path, const std::string& scheme = "http");

// `count` bytes of a repeatable pattern with no zero bytes in it.
std::string PatternBytes(size_t count, char seed = 'a');

// The 4-byte little-endian size header of a downloaded file.
std::string SizeHeader(uint32_t size);
