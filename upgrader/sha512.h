#pragma once
// SHA-512 (FIPS 180-4): the hash inside Ed25519 signatures.
#include <cstddef>
#include <cstdint>

class CSha512 {
 public:
  CSha512();
  void Update(const void* data, size_t size);
  // The 64 bytes of the digest; the object is spent afterwards.
  void Digest(unsigned char out[64]);

 private:
  void Block(const unsigned char* block);

  uint64_t m_state[8];
  uint64_t m_nBytes = 0;  // messages stay far below 2^64 bytes: the length's high word is 0
  unsigned char m_buffer[128];
  size_t m_nBuffered = 0;
};
