#pragma once
// The normalised view of a script's text, against which signatures marked N are matched: what
// a script language lets a writer vary without changing the code is taken out.
//   1. ASCII capitals become small letters; every other byte is kept as it is.
//   2. Blanks, tabs, line and page breaks and zero bytes (0x00, 0x09..0x0D, 0x20) are dropped.
//   3. A comment "/*" ... "*/" is dropped whole when its "*/" ends at most kCommentReach bytes
//      after the end of the opening "/*"; otherwise the "/*" is ordinary text. A line comment is
//      dropped up to (not including) its line break or a "?>" or "%>" that ends the script block:
//      "//" unless the byte before it is ':' (an address), a quote, a backslash, '/' or '*'; "#"
//      when the last byte before it that is not a blank is a line break, ';', '{' or '}', or there
//      is none (looked for over kLookBack bytes; only blanks there: not a comment).
//   4. Then a quote, an operator and the same quote ("." '.' "+" '+' "&" '&') are dropped, left
//      to right, so "as" . "sert" reads "assert" (joined string concatenation).
// Byte-wise and streaming: the text may come in any pieces, the view is the same. One pass, and
// the search for a comment's end never looks at a byte twice, so the cost is linear on any text.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

// How the normaliser goes through stretches without comments and joins: sixty-four bytes at a
// time with AVX2, sixteen with SSSE3 or SSE2, else byte by byte. The view is the same either way.
enum class NormaliserBlocks { kBytes, kSse2, kSsse3, kAvx2 };
// The widest method this processor offers.
NormaliserBlocks WidestNormaliserBlocks();
// Narrows the method every normaliser uses (at most the widest), for tests that compare each.
void UseNormaliserBlocks(NormaliserBlocks blocks);

// A view kept from piece to piece: like a string, but room it grows into is not zeroed first
// (the normaliser writes it at once; zeroing it cost as much as a tenth of the normalising).
class CViewBuffer {
 public:
  const char* data() const { return m_data.get(); }
  char* data() { return m_data.get(); }
  size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  size_t capacity() const { return m_capacity; }
  char& operator[](size_t at) { return m_data[at]; }
  // Bytes beyond the old size are left as they are.
  void resize(size_t size) {
    if (size > m_capacity) {
      const size_t capacity = std::max(size, 2 * m_capacity);
      std::unique_ptr<char[]> grown(new char[capacity]);
      if (m_size > 0) std::memcpy(grown.get(), m_data.get(), m_size);
      m_data = std::move(grown);
      m_capacity = capacity;
    }
    m_size = size;
  }
  void EraseFront(size_t count) {
    if (count < m_size) std::memmove(m_data.get(), m_data.get() + count, m_size - count);
    m_size -= std::min(count, m_size);
  }
  void clear() { m_size = 0; }
  void swap(CViewBuffer& other) noexcept {
    std::swap(m_data, other.m_data);
    std::swap(m_size, other.m_size);
    std::swap(m_capacity, other.m_capacity);
  }

 private:
  std::unique_ptr<char[]> m_data;
  size_t m_size = 0, m_capacity = 0;
};

class CTextNormaliser {
 public:
  static constexpr size_t kCommentReach = 2048;
  static constexpr size_t kLookBack = 64;

  // Appends the view of the next piece to *out (a std::string or a CViewBuffer). A few bytes
  // (an unfinished comment opening, a quote that may begin a concatenation) wait for the next
  // piece or Finish.
  template <class View>
  void Feed(const char* text, size_t size, View* out);
  // Appends what is still waiting, at the end of the text; the normaliser is then fresh again.
  template <class View>
  void Finish(View* out);
  // Fresh again without the end of the text (its buffers are kept).
  void Restart();
  // The text to come is a fragment (a signature's part): a "#" or "//" at its start is text.
  void StartAfterColon() { m_tail.assign(1, ':'); }

 private:
  // Normalises text[0 .. size) onto *out and returns how much of it was used: all of it when
  // final, otherwise it stops at a comment opening whose end cannot be known yet.
  template <class View>
  size_t Run(const unsigned char* text, size_t size, bool final, View* out);
  // Moves the end of *out that may still be joined away into m_held.
  template <class View>
  void HoldJoinableEnd(View* out);

  // The byte before text[0] (a line break at the start of the text).
  unsigned char PreviousByte() const;
  // Whether the "#" at text[at] opens a line comment (the bytes before text come from m_tail).
  bool HashOpensComment(const unsigned char* text, size_t at) const;

  bool m_bInLineComment = false;
  std::string m_tail;     // the last kLookBack raw bytes before the text being run
  std::string m_pending;  // text from an unresolved "/*" (or a last "/") on
  std::string m_held;     // view bytes that a following quote may still drop
  size_t m_floor = 0;     // in Run: view bytes before this cannot take part in a join
};

// The view of a whole text (how the parts of N signatures are stored).
std::string NormaliseText(const char* text, size_t size);
inline std::string NormaliseText(const std::string& text) { return NormaliseText(text.data(), text.size()); }
// The view of a signature's part: as of a text that went on before it (after a ':'), so a "#"
// or "//" it begins with is kept.
std::string NormalisePart(const std::string& part);
