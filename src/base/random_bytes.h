#pragma once

#include <span>

// Fills `bytes` from the system's cryptographic random source (nonces, message ids).
void FillRandom(std::span<unsigned char> bytes);
