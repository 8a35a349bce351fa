#include "remote/md5.h"

#include <cstring>

namespace {

const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391};

const uint32_t kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

uint32_t RotateLeft(uint32_t x, uint32_t n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

void CMd5A::Init() {
  m_dwState[0] = 0x67452301;
  m_dwState[1] = 0xefcdab89;
  m_dwState[2] = 0x98badcfe;
  m_dwState[3] = 0x10325476;
  m_qwBitCount = 0;
  std::memset(m_byBuffer, 0, sizeof(m_byBuffer));
}

void CMd5A::Transform(const unsigned char block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = static_cast<uint32_t>(block[4 * i]) | static_cast<uint32_t>(block[4 * i + 1]) << 8 |
           static_cast<uint32_t>(block[4 * i + 2]) << 16 |
           static_cast<uint32_t>(block[4 * i + 3]) << 24;
  }
  uint32_t a = m_dwState[0], b = m_dwState[1], c = m_dwState[2], d = m_dwState[3];
  for (int i = 0; i < 64; ++i) {
    const int round = i / 16;
    uint32_t f;
    int g;
    switch (round) {
      case 0: f = (b & c) | (~b & d); g = i; break;
      case 1: f = (d & b) | (~d & c); g = (5 * i + 1) % 16; break;
      case 2: f = b ^ c ^ d; g = (3 * i + 5) % 16; break;
      default: f = c ^ (b | ~d); g = (7 * i) % 16; break;
    }
    f += a + kSine[i] + x[g];
    a = d;
    d = c;
    c = b;
    b += RotateLeft(f, kShift[round][i % 4]);
  }
  m_dwState[0] += a;
  m_dwState[1] += b;
  m_dwState[2] += c;
  m_dwState[3] += d;
}

void CMd5A::Update(const unsigned char* data, size_t size) {
  size_t used = static_cast<size_t>((m_qwBitCount / 8) % 64);
  m_qwBitCount += static_cast<uint64_t>(size) * 8;
  while (size > 0) {
    const size_t take = size < 64 - used ? size : 64 - used;
    std::memcpy(m_byBuffer + used, data, take);
    used += take;
    data += take;
    size -= take;
    if (used == 64) {
      Transform(m_byBuffer);
      used = 0;
    }
  }
}

void CMd5A::Final(unsigned char digest[16]) {
  unsigned char length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<unsigned char>(m_qwBitCount >> (8 * i));
  // Pad to 56 bytes past a block boundary, then append the bit count.
  static const unsigned char kPadding[64] = {0x80};
  const size_t used = static_cast<size_t>((m_qwBitCount / 8) % 64);
  Update(kPadding, used < 56 ? 56 - used : 120 - used);
  Update(length, 8);
  for (int i = 0; i < 16; ++i) digest[i] = static_cast<unsigned char>(m_dwState[i / 4] >> (8 * (i % 4)));
  // Leave nothing of the hashed password behind.
  std::memset(m_dwState, 0, sizeof(m_dwState));
  m_qwBitCount = 0;
  std::memset(m_byBuffer, 0, sizeof(m_byBuffer));
}

std::string CMd5A::MD5String(const char* text) {
  static const char kHex[] = "0123456789abcdef";
  Init();
  if (text) Update(reinterpret_cast<const unsigned char*>(text), std::strlen(text));
  unsigned char digest[16];
  Final(digest);
  std::string hex;
  for (unsigned char byte : digest) {
    hex.push_back(kHex[byte >> 4]);
    hex.push_back(kHex[byte & 0x0f]);
  }
  return hex;
}

std::string MD5Text(const std::string& text) {
  CMd5A md5;
  return md5.MD5String(text.c_str());
}
