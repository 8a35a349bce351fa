#pragma once
// SHA-256 (FIPS 180-4): the digest a published build is checked against.
#include <cstddef>
#include <cstdint>
#include <string>

class CSha256 {
 public:
  CSha256();
  void Update(const void* data, size_t size);
  // The 64 lowercase hexadecimal digits of the digest; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Block(const unsigned char* block);

  uint32_t m_state[8];
  uint64_t m_nBytes = 0;
  unsigned char m_buffer[64];
  size_t m_nBuffered = 0;
};

std::string Sha256Hex(const std::string& bytes);
