#include "logonguard/log_text.h"

namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

void AppendUtf8(std::string& out, unsigned long code) {
  if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) code = 0xFFFD;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string Utf16ToUtf8(const char16_t* text, size_t length) {
  std::string out;
  out.reserve(length + length / 2);
  for (size_t i = 0; i < length; ++i) {
    unsigned long code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<unsigned long>(text[i + 1]) - 0xDC00);
      ++i;
    }
    AppendUtf8(out, code);  // a lone surrogate is U+FFFD there
  }
  return out;
}

std::string CutUtf8(const std::string& text, size_t bound) {
  if (text.size() <= bound) return text;
  size_t end = bound;
  // Back over at most three continuation bytes to the start of the cut sequence.
  for (int back = 0; back < 3 && end > 0 && IsContinuation(static_cast<unsigned char>(text[end])); ++back) --end;
  if (IsContinuation(static_cast<unsigned char>(text[end]))) end = bound;  // not UTF-8
  return text.substr(0, end);
}

std::string CutAnsi(const std::string& text, size_t bound) {
  if (text.size() <= bound) return text;
  size_t end = 0;
  while (end < bound) {
    const size_t step = static_cast<unsigned char>(text[end]) >= 0x81 ? 2 : 1;
    if (end + step > bound) break;
    end += step;
  }
  return text.substr(0, end);
}

std::string ConvertedValue(const std::string& utf8, size_t bound, const TextConverter& toAnsi) {
  const std::string cut = CutUtf8(utf8, bound);
  if (!toAnsi) return cut;
  return CutAnsi(toAnsi(cut), bound);
}
