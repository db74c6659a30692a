#pragma once

// The SHA-256 workload's unit: the compression function over messages of
// whole 64-byte blocks.

#include <cstdint>

// Compresses `blocks` blocks of data into state (eight words, a to h).
void sha256Plain(uint32_t state[8], const uint8_t *data, long blocks);
void sha256Ni(uint32_t state[8], const uint8_t *data, long blocks);

extern const uint32_t SHA256_K[64];
