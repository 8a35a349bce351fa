#include "alerts/long_number.h"

#include <algorithm>

namespace {

uint32_t DigitValue(char ch) {
  if (ch >= '0' && ch <= '9') return static_cast<uint32_t>(ch - '0');
  if (ch >= 'A' && ch <= 'F') return static_cast<uint32_t>(ch - 'A' + 10);
  if (ch >= 'a' && ch <= 'f') return static_cast<uint32_t>(ch - 'a' + 10);
  return 0;
}

// a -= b for a >= b.
void SubtractWords(uint32_t* a, const uint32_t* b, uint32_t count) {
  uint64_t borrow = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t cur = static_cast<uint64_t>(a[i]) - b[i] - borrow;
    a[i] = static_cast<uint32_t>(cur);
    borrow = (cur >> 32) & 1;
  }
}

}  // namespace

CLongNumber::CLongNumber(uint32_t value) { m_dwWords[0] = value; }

void CLongNumber::Normalize() {
  m_nLength = kMaxWords;
  while (m_nLength > 1 && m_dwWords[m_nLength - 1] == 0) --m_nLength;
}

CLongNumber& CLongNumber::FromText(const std::string& text, uint32_t base) {
  CLongNumber value;
  for (char ch : text) value = value * base + DigitValue(ch);
  return *this = value;
}

CLongNumber& CLongNumber::FromBytes(const std::string& text) {
  CLongNumber value;
  for (char ch : text) value = value * 256u + static_cast<uint32_t>(static_cast<unsigned char>(ch));
  return *this = value;
}

std::string CLongNumber::ToText(uint32_t base) const {
  static const char kDigits[] = "0123456789ABCDEF";
  if (base < 2 || base > 16) return std::string();
  std::string text;
  CLongNumber rest = *this;
  do {
    text.push_back(kDigits[DivMod32(rest, base, &rest)]);
  } while (!rest.IsZero());
  std::reverse(text.begin(), text.end());
  return text;
}

CLongNumber CLongNumber::PowMod(const CLongNumber& exponent, const CLongNumber& modulus) const {
  if (modulus.IsZero()) {
    CLongNumber zero;
    zero.m_bOverflow = true;
    return zero;
  }
  // Reducing the base first keeps every product below modulus², even for a base
  // that is not already below the modulus.
  const CLongNumber base = *this % modulus;
  const uint32_t bits = exponent.BitLength();
  CLongNumber result = bits == 0 ? CLongNumber(1) % modulus : base;
  for (uint32_t i = bits == 0 ? 0 : bits - 1; i-- > 0;) {
    result = result * result % modulus;
    if (exponent.Bit(i)) result = result * base % modulus;
  }
  result.m_bOverflow = result.m_bOverflow || m_bOverflow || exponent.m_bOverflow;
  return result;
}

CLongNumber CLongNumber::operator+(const CLongNumber& other) const {
  CLongNumber sum;
  uint64_t carry = 0;
  for (uint32_t i = 0; i < kMaxWords; ++i) {
    carry += static_cast<uint64_t>(m_dwWords[i]) + other.m_dwWords[i];
    sum.m_dwWords[i] = static_cast<uint32_t>(carry);
    carry >>= 32;
  }
  sum.Normalize();
  sum.m_bOverflow = m_bOverflow || other.m_bOverflow || carry != 0;
  return sum;
}

CLongNumber CLongNumber::operator*(const CLongNumber& other) const {
  uint32_t product[2 * kMaxWords] = {};
  for (uint32_t i = 0; i < m_nLength; ++i) {
    uint64_t carry = 0;
    for (uint32_t j = 0; j < other.m_nLength; ++j) {
      const uint64_t cur =
          static_cast<uint64_t>(m_dwWords[i]) * other.m_dwWords[j] + product[i + j] + carry;
      product[i + j] = static_cast<uint32_t>(cur);
      carry = cur >> 32;
    }
    product[i + other.m_nLength] = static_cast<uint32_t>(carry);
  }
  CLongNumber result;
  std::copy(product, product + kMaxWords, result.m_dwWords);
  result.Normalize();
  result.m_bOverflow = m_bOverflow || other.m_bOverflow ||
                       std::any_of(product + kMaxWords, product + 2 * kMaxWords,
                                   [](uint32_t word) { return word != 0; });
  return result;
}

CLongNumber CLongNumber::operator/(const CLongNumber& divisor) const {
  CLongNumber quotient;
  DivMod(*this, divisor, &quotient, nullptr);
  return quotient;
}

CLongNumber CLongNumber::operator%(const CLongNumber& divisor) const {
  CLongNumber remainder;
  DivMod(*this, divisor, nullptr, &remainder);
  return remainder;
}

CLongNumber CLongNumber::operator+(uint32_t other) const { return *this + CLongNumber(other); }

CLongNumber CLongNumber::operator*(uint32_t other) const { return *this * CLongNumber(other); }

CLongNumber CLongNumber::operator/(uint32_t divisor) const {
  if (divisor == 0) return *this / CLongNumber();
  CLongNumber quotient;
  DivMod32(*this, divisor, &quotient);
  return quotient;
}

CLongNumber CLongNumber::operator%(uint32_t divisor) const {
  if (divisor == 0) return *this % CLongNumber();
  CLongNumber quotient;
  CLongNumber remainder(DivMod32(*this, divisor, &quotient));
  remainder.m_bOverflow = m_bOverflow;
  return remainder;
}

int CLongNumber::Compare(const CLongNumber& other) const {
  if (m_nLength != other.m_nLength) return m_nLength < other.m_nLength ? -1 : 1;
  for (uint32_t i = m_nLength; i-- > 0;) {
    if (m_dwWords[i] != other.m_dwWords[i]) return m_dwWords[i] < other.m_dwWords[i] ? -1 : 1;
  }
  return 0;
}

uint32_t CLongNumber::BitLength() const {
  uint32_t bits = (m_nLength - 1) * 32;
  for (uint32_t top = m_dwWords[m_nLength - 1]; top != 0; top >>= 1) ++bits;
  return bits;
}

bool CLongNumber::Bit(uint32_t index) const {
  return index < kMaxWords * 32 && ((m_dwWords[index / 32] >> (index % 32)) & 1) != 0;
}

void CLongNumber::DivMod(const CLongNumber& dividend, const CLongNumber& divisor,
                         CLongNumber* quotient, CLongNumber* remainder) {
  CLongNumber quot;
  CLongNumber rem;
  bool mark = dividend.m_bOverflow || divisor.m_bOverflow;
  if (divisor.IsZero()) {
    rem = dividend;
    mark = true;
  } else {
    // Shift-and-subtract, one dividend bit at a time from the top. The remainder never
    // exceeds the dividend bits taken so far, so the shift cannot leave the 35 words.
    for (uint32_t i = dividend.BitLength(); i-- > 0;) {
      uint32_t carry = dividend.Bit(i) ? 1 : 0;
      for (uint32_t w = 0; w < kMaxWords; ++w) {
        const uint32_t out = rem.m_dwWords[w] >> 31;
        rem.m_dwWords[w] = (rem.m_dwWords[w] << 1) | carry;
        carry = out;
      }
      rem.Normalize();
      if (rem.Compare(divisor) >= 0) {
        SubtractWords(rem.m_dwWords, divisor.m_dwWords, kMaxWords);
        rem.Normalize();
        quot.m_dwWords[i / 32] |= 1u << (i % 32);
      }
    }
    quot.Normalize();
  }
  quot.m_bOverflow = mark;
  rem.m_bOverflow = mark;
  if (quotient) *quotient = quot;
  if (remainder) *remainder = rem;
}

uint32_t CLongNumber::DivMod32(const CLongNumber& dividend, uint32_t divisor,
                               CLongNumber* quotient) {
  CLongNumber quot;
  uint64_t rem = 0;
  for (uint32_t i = dividend.m_nLength; i-- > 0;) {
    const uint64_t cur = (rem << 32) | dividend.m_dwWords[i];
    quot.m_dwWords[i] = static_cast<uint32_t>(cur / divisor);
    rem = cur % divisor;
  }
  quot.Normalize();
  quot.m_bOverflow = dividend.m_bOverflow;
  *quotient = quot;
  return static_cast<uint32_t>(rem);
}
