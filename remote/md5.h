#pragma once
// MD5 message digest (RFC 1321). The remote password is kept and compared only as the
// 32 lowercase hexadecimal digits of its digest.
#include <cstddef>
#include <cstdint>
#include <string>

class CMd5A {
 public:
  CMd5A() { Init(); }

  void Init();
  void Update(const unsigned char* data, size_t size);
  // Writes the 16 digest bytes, then wipes state, count and buffer.
  void Final(unsigned char digest[16]);

  // Digest of the bytes up to the terminating NUL ("%02x" per byte); a null pointer
  // counts as the empty text.
  std::string MD5String(const char* text);

 private:
  void Transform(const unsigned char block[64]);

  uint32_t m_dwState[4];
  uint64_t m_qwBitCount;
  unsigned char m_byBuffer[64];
};

// MD5String of the text: like the C string it is, it ends at the first NUL byte.
std::string MD5Text(const std::string& text);
