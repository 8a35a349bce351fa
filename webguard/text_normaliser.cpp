#include "webguard/text_normaliser.h"

#include <array>
#include <cstring>

namespace {

// What the main loop does with a byte: its value is also how many view bytes it adds, so the
// common bytes (kept or dropped) need no branch.
enum : unsigned char { kDrop = 0, kKeep = 1, kQuote = 2, kSlash = 3 };

constexpr std::array<unsigned char, 256> MakeClasses() {
  std::array<unsigned char, 256> classes{};
  for (int c = 0; c < 256; ++c) classes[c] = kKeep;
  for (int c : {0x00, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20}) classes[c] = kDrop;
  classes['"'] = classes['\''] = kQuote;
  classes['/'] = kSlash;
  return classes;
}

constexpr std::array<unsigned char, 256> MakeLower() {
  std::array<unsigned char, 256> lower{};
  for (int c = 0; c < 256; ++c) lower[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return lower;
}

constexpr std::array<unsigned char, 256> kClass = MakeClasses();
constexpr std::array<unsigned char, 256> kLower = MakeLower();

bool IsJoinOperator(char c) { return c == '.' || c == '+' || c == '&'; }
bool IsQuote(char c) { return c == '"' || c == '\''; }

// The first "*/" whose "*" lies at or after from; size when there is none. Remembers its last
// answer: asked about ascending positions, it reads every byte at most once.
class CCloseFinder {
 public:
  CCloseFinder(const unsigned char* text, size_t size) : m_text(text), m_size(size) {}
  size_t From(size_t from) {
    if (m_bKnown && m_at >= from) return m_at;
    m_bKnown = true;
    for (size_t j = from; j + 1 < m_size; ++j) {
      const void* star = std::memchr(m_text + j, '*', m_size - 1 - j);
      if (!star) break;
      j = static_cast<size_t>(static_cast<const unsigned char*>(star) - m_text);
      if (m_text[j + 1] == '/') return m_at = j;
    }
    return m_at = m_size;
  }

 private:
  const unsigned char* m_text;
  size_t m_size;
  size_t m_at = 0;
  bool m_bKnown = false;
};

}  // namespace

size_t CTextNormaliser::Run(const unsigned char* text, size_t size, bool final, std::string* out) {
  const size_t base = out->size();
  out->resize(base + m_held.size() + size);
  char* view = &(*out)[0];
  size_t w = base;
  std::memcpy(view + w, m_held.data(), m_held.size());
  w += m_held.size();
  m_held.clear();
  size_t floor = base;
  CCloseFinder closes(text, size);
  size_t i = 0;
  while (i < size) {
    const unsigned char c = text[i];
    const unsigned char action = kClass[c];
    if (action <= kKeep) {
      view[w] = static_cast<char>(kLower[c]);
      w += action;
      ++i;
      continue;
    }
    if (action == kQuote) {
      // The quote closes "q op q": the three go.
      if (w >= floor + 2 && IsJoinOperator(view[w - 1]) && view[w - 2] == static_cast<char>(c)) {
        w -= 2;
        floor = w;
      } else {
        view[w++] = static_cast<char>(c);
      }
      ++i;
      continue;
    }
    // A slash: perhaps a comment.
    if (i + 1 == size && !final) break;
    if (i + 1 < size && text[i + 1] == '*') {
      const size_t reach = i + 2 + kCommentReach;  // the "*/" must end at or before this
      const size_t close = closes.From(i + 2);
      if (close < size && close + 2 <= reach) {
        i = close + 2;
        continue;
      }
      if (size < reach && !final) break;  // its end may still come
    }
    view[w++] = '/';
    ++i;
  }
  out->resize(w);
  m_floor = floor;
  return i;
}

void CTextNormaliser::HoldJoinableEnd(std::string* out) {
  const size_t w = out->size();
  size_t hold = 0;
  if (w >= m_floor + 1 && IsQuote((*out)[w - 1])) {
    hold = 1;
  } else if (w >= m_floor + 2 && IsJoinOperator((*out)[w - 1]) && IsQuote((*out)[w - 2])) {
    hold = 2;
  }
  m_held.assign(*out, w - hold, hold);
  out->resize(w - hold);
}

void CTextNormaliser::Feed(const char* text, size_t size, std::string* out) {
  if (size == 0) return;
  if (m_pending.empty()) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const size_t used = Run(bytes, size, false, out);
    m_pending.assign(text + used, size - used);
  } else {
    m_pending.append(text, size);
    const size_t used = Run(reinterpret_cast<const unsigned char*>(m_pending.data()), m_pending.size(), false, out);
    m_pending.erase(0, used);
  }
  HoldJoinableEnd(out);
}

void CTextNormaliser::Finish(std::string* out) {
  Run(reinterpret_cast<const unsigned char*>(m_pending.data()), m_pending.size(), true, out);
  m_pending.clear();
  m_held.clear();
  m_floor = 0;
}

std::string NormaliseText(const char* text, size_t size) {
  CTextNormaliser normaliser;
  std::string view;
  normaliser.Feed(text, size, &view);
  normaliser.Finish(&view);
  return view;
}
