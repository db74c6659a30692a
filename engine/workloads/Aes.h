#pragma once

// The AES workload's unit: AES-128 encryption of a buffer of blocks, and
// decryption of the result, block by block (each block on its own, so
// that the AES units take many in flight).

#include <cstdint>

struct AesJob {
  const uint8_t *roundKeys; // 11 x 16 bytes, the encryption schedule
  const uint8_t *in;        // plaintext
  uint8_t *encrypted, *decrypted;
  long blocks;              // a multiple of 32
  bool decryptOnly = false; // encrypted given: its decryption alone
};

void aesPlain(const AesJob &job);
void aesNi(const AesJob &job);
void aesVaes256(const AesJob &job);
void aesVaes512(const AesJob &job);

// The cipher of FIPS-197 in portable code, byte by byte: the key schedule
// for every level, the encryption answers and the plain level's own work.
void aesExpandKey(const uint8_t key[16], uint8_t roundKeys[176]);
void aesEncryptBlock(const uint8_t roundKeys[176], const uint8_t in[16],
                     uint8_t out[16]);
