#include "base/random_bytes.h"

#include <openssl/rand.h>

#include <random>

void FillRandom(std::span<unsigned char> bytes) {
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) == 1) return;
    std::random_device device;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(device());
}
