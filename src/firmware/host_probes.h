#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Questions the store asks about the machine. Both are passed in as functions, so tests
// can play an offline machine or a full disk without changing the real one.

// Whether the machine has a network connection: some interface other than loopback is
// up, running and has an address. It says nothing about reaching the server; a fetch
// that fails is handled as a failed fetch.
using NetworkProbe = std::function<bool()>;
bool NetworkConnected();

// Free bytes this user may still write in `folder`; -1 when that cannot be told.
using FreeSpaceProbe = std::function<int64_t(const std::string& folder)>;
int64_t AvailableBytes(const std::string& folder);
