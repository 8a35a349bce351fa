#pragma once
// GBK text as the website protection reads it: a lead byte (0x81..0xFE) followed by another
// byte of the text forms one double-byte character; every other byte is a character of its own.
#include <cstddef>

// Where a signature may begin in a text: at GBK character starts (the text as the checker reads
// it), or at every byte (text in another form, such as UTF-8 or the normalised view).
enum class CharStarts { kGbk, kEveryByte };

inline bool IsGbkLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Bytes taken by the character starting at position at.
inline size_t GbkCharLength(const unsigned char* text, size_t size, size_t at) {
  return IsGbkLeadByte(text[at]) && at + 1 < size ? 2 : 1;
}

// Finds whether positions start characters, for positions that never move back by more than a
// known distance: it parses forward from a remembered character start, so a whole text costs
// one pass however many positions are asked about.
class CGbkCharStarts {
 public:
  CGbkCharStarts(const unsigned char* text, size_t size) : m_text(text), m_size(size) {}
  // No later question will be about a position before limit. Steps back from limit over
  // double-byte text to a byte that cannot lead (a character starts after it), never behind
  // the remembered start, so the whole text is parsed at most about twice.
  void Forget(size_t limit) {
    if (limit <= m_anchor) return;
    size_t q = limit;
    while (q > m_anchor && IsGbkLeadByte(m_text[q - 1])) --q;
    m_anchor = q;
    while (m_anchor < m_size) {
      const size_t next = m_anchor + GbkCharLength(m_text, m_size, m_anchor);
      if (next > limit) break;
      m_anchor = next;
    }
  }
  // A character start at or before limit (and after every position forgotten so far).
  size_t StartAtOrBefore(size_t limit) {
    Forget(limit);
    return m_anchor;
  }
  // at must not lie before the last limit given to Forget.
  bool IsStart(size_t at) const {
    // After a byte that cannot lead, a character always starts.
    if (at == 0 || !IsGbkLeadByte(m_text[at - 1])) return true;
    size_t q = m_anchor;
    while (q < at) q += GbkCharLength(m_text, m_size, q);
    return q == at;
  }

 private:
  const unsigned char* m_text;
  size_t m_size;
  size_t m_anchor = 0;
};
