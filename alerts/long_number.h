#pragma once
// Fixed-size unsigned multi-precision integer for the request stamp: at most 35 words
// of 32 bits, least significant word first.
//
// Results never leave the 35 words: a result that does not fit keeps its low 1120 bits
// (it is taken modulo 2^1120) and is marked Overflowed(). Division or remainder by zero
// gives quotient 0 and remainder equal to the dividend, both marked Overflowed(). The
// mark is sticky: any result computed from a marked operand is marked too.
#include <cstdint>
#include <string>

class CLongNumber {
 public:
  static constexpr uint32_t kMaxWords = 35;

  CLongNumber() = default;
  explicit CLongNumber(uint32_t value);

  // value = value × base + digit per character; '0'-'9' and 'A'-'F'/'a'-'f' are
  // 0..15 whatever the base, any other character is 0.
  CLongNumber& FromText(const std::string& text, uint32_t base);
  // The bytes of the text as a big-endian number; the empty text is 0.
  CLongNumber& FromBytes(const std::string& text);
  // Digits "0123456789ABCDEF", no leading zeros, "0" for zero; "" unless 2 <= base <= 16.
  std::string ToText(uint32_t base) const;

  // this^exponent mod modulus by left-to-right square-and-multiply. Exact while
  // modulus² fits in 1120 bits; a zero modulus gives a marked zero.
  CLongNumber PowMod(const CLongNumber& exponent, const CLongNumber& modulus) const;

  CLongNumber operator+(const CLongNumber& other) const;
  CLongNumber operator*(const CLongNumber& other) const;
  CLongNumber operator/(const CLongNumber& divisor) const;
  CLongNumber operator%(const CLongNumber& divisor) const;
  CLongNumber operator+(uint32_t other) const;
  CLongNumber operator*(uint32_t other) const;
  CLongNumber operator/(uint32_t divisor) const;
  CLongNumber operator%(uint32_t divisor) const;

  // Compare values only; the overflow mark plays no part.
  int Compare(const CLongNumber& other) const;
  bool operator==(const CLongNumber& other) const { return Compare(other) == 0; }
  bool operator!=(const CLongNumber& other) const { return Compare(other) != 0; }
  bool operator<(const CLongNumber& other) const { return Compare(other) < 0; }

  uint32_t Length() const { return m_nLength; }
  uint32_t Word(uint32_t index) const { return index < kMaxWords ? m_dwWords[index] : 0; }
  uint32_t BitLength() const;
  bool IsZero() const { return m_nLength == 1 && m_dwWords[0] == 0; }
  bool Overflowed() const { return m_bOverflow; }

 private:
  bool Bit(uint32_t index) const;
  void Normalize();
  // Quotient and remainder together; both marked when the divisor is zero.
  static void DivMod(const CLongNumber& dividend, const CLongNumber& divisor,
                     CLongNumber* quotient, CLongNumber* remainder);
  static uint32_t DivMod32(const CLongNumber& dividend, uint32_t divisor, CLongNumber* quotient);

  uint32_t m_nLength = 1;
  uint32_t m_dwWords[kMaxWords] = {};
  bool m_bOverflow = false;
};
