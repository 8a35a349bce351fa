#include "webguard/script_text.h"

#include <cstring>

namespace {

bool StartsWith(const std::string& text, const char* prefix, size_t length) {
  return text.size() >= length && std::memcmp(text.data(), prefix, length) == 0;
}

// Could these first bytes still grow into a byte-order mark?
bool MayBeMark(const std::string& head) {
  static const char* const kMarks[] = {"\xEF\xBB\xBF", "\xFF\xFE\0\0", "\0\0\xFE\xFF", "\xFE\xFF"};
  static const size_t kLengths[] = {3, 4, 4, 2};
  for (size_t m = 0; m < 4; ++m) {
    const size_t n = head.size() < kLengths[m] ? head.size() : kLengths[m];
    if (std::memcmp(head.data(), kMarks[m], n) == 0 && head.size() < kLengths[m]) return true;
  }
  return false;
}

}  // namespace

void CScriptTextDecoder::CFolding::Fold(const char* bytes, size_t size, std::string* text) {
  if (size == 0) return;
  size_t i = 0;
  if (bPendingCr) {
    bPendingCr = false;
    if (bytes[0] != '\n') text->push_back('\r');
  }
  while (i < size) {
    const void* found = std::memchr(bytes + i, '\r', size - i);
    const size_t cr = found ? static_cast<size_t>(static_cast<const char*>(found) - bytes) : size;
    text->append(bytes + i, cr - i);
    if (cr == size) break;
    if (cr + 1 == size) {
      bPendingCr = true;  // the next piece may begin with its LF
      break;
    }
    if (bytes[cr + 1] != '\n') text->push_back('\r');
    i = cr + 1;
  }
}

void CScriptTextDecoder::CFolding::Finish(std::string* text) {
  if (bPendingCr) text->push_back('\r');
  bPendingCr = false;
}

void CScriptTextDecoder::DecideForm(CScriptViews* views, bool atEnd) {
  if (!atEnd && MayBeMark(m_head)) return;
  size_t mark = 0;
  if (StartsWith(m_head, "\xEF\xBB\xBF", 3)) {
    m_form = Form::kBytes, mark = 3;
  } else if (StartsWith(m_head, "\xFF\xFE\0\0", 4)) {
    m_form = Form::kUtf32Le, mark = 4;
  } else if (StartsWith(m_head, "\0\0\xFE\xFF", 4)) {
    m_form = Form::kUtf32Be, mark = 4;
  } else if (StartsWith(m_head, "\xFF\xFE", 2)) {
    m_form = Form::kUtf16Le, mark = 2;
  } else if (StartsWith(m_head, "\xFE\xFF", 2)) {
    m_form = Form::kUtf16Be, mark = 2;
  } else {
    m_form = Form::kBytes;
  }
  const std::string head = m_head.substr(mark);
  m_head.clear();
  Decode(head.data(), head.size(), views);
}

void CScriptTextDecoder::Decode(const char* bytes, size_t size, CScriptViews* views) {
  if (m_form == Form::kUndecided) {
    m_head.append(bytes, size);
    DecideForm(views, false);
    return;
  }
  m_bytesFolding.Fold(bytes, size, &views->bytes);
  if (LeftOut(bytes, size, views)) return;
  Convert(reinterpret_cast<const unsigned char*>(bytes), size, views);
}

bool CScriptTextDecoder::LeftOut(const char* bytes, size_t size, CScriptViews* views) {
  if (!m_bLeaveSameOut || !m_bSameSoFar || m_form != Form::kBytes) return false;
  bool ascii = m_bUtf8Valid && m_partial.empty();
  for (size_t i = 0; ascii && i < size; ++i) ascii = static_cast<unsigned char>(bytes[i]) < 0x80;
  if (ascii || !m_bUtf8Valid) {
    // Both views the same text (the foldings stay in step), or the UTF-8 view over already.
    m_convertedFolding = m_bytesFolding;
    views->bConvertedIsBytes = true;
    return true;
  }
  // A byte beyond ASCII: converted as always. Where it began a character, the views part here.
  const std::string before = views->converted;
  Convert(reinterpret_cast<const unsigned char*>(bytes), size, views);
  if (m_bConvertedWide || !m_partial.empty()) {
    m_bSameSoFar = false;
    return true;
  }
  // Not UTF-8 (GBK text): the converted view ends with ASCII, a beginning of the bytes.
  views->converted = before;
  views->bConvertedIsBytes = true;
  return true;
}

void CScriptTextDecoder::Finish(CScriptViews* views) {
  if (m_form == Form::kUndecided) DecideForm(views, true);
  if (m_bLeaveSameOut && m_bSameSoFar && m_form == Form::kBytes) {
    m_bytesFolding.Finish(&views->bytes);
    m_convertedFolding = m_bytesFolding;
    views->bConvertedIsBytes = true;
    return;
  }
  m_units.clear();
  if (m_highSurrogate) m_units.push_back(static_cast<char16_t>(m_highSurrogate));
  m_highSurrogate = 0;
  Emit(views);
  if (m_form != Form::kBytes) {
    // Part of a unit at the end is kept as the bytes it is.
    m_convertedFolding.Fold(m_partial.data(), m_partial.size(), &views->converted);
  }
  m_partial.clear();  // an unfinished UTF-8 sequence converts to nothing
  m_bytesFolding.Finish(&views->bytes);
  m_convertedFolding.Finish(&views->converted);
}

void CScriptTextDecoder::Convert(const unsigned char* bytes, size_t size, CScriptViews* views) {
  m_units.clear();
  if (m_highSurrogate) m_units.push_back(static_cast<char16_t>(m_highSurrogate));
  m_highSurrogate = 0;
  if (m_form == Form::kBytes) {
    if (m_bUtf8Valid) ConvertUtf8(bytes, size);
  } else {
    ConvertUnits(bytes, size);
  }
  // A pair cut by the piece boundary waits for its second half.
  if (!m_units.empty() && m_units.back() >= 0xD800 && m_units.back() <= 0xDBFF) {
    m_highSurrogate = m_units.back();
    m_units.pop_back();
  }
  Emit(views);
}

void CScriptTextDecoder::Emit(CScriptViews* views) {
  if (m_units.empty()) return;
  std::string converted;
  m_system.AppendGbk(m_units.data(), m_units.size(), &converted);
  m_units.clear();
  m_convertedFolding.Fold(converted.data(), converted.size(), &views->converted);
}

void CScriptTextDecoder::PushCodePoint(uint32_t point) {
  if (point < 0x10000) {
    m_units.push_back(static_cast<char16_t>(point));
  } else {
    point -= 0x10000;
    m_units.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
    m_units.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
  }
}

void CScriptTextDecoder::ConvertUtf8(const unsigned char* bytes, size_t size) {
  std::string work = m_partial;
  work.append(reinterpret_cast<const char*>(bytes), size);
  m_partial.clear();
  const auto* text = reinterpret_cast<const unsigned char*>(work.data());
  const size_t end = work.size();
  for (size_t i = 0; i < end;) {
    const unsigned char c = text[i];
    if (c < 0x80) {
      PushCodePoint(c);
      ++i;
      continue;
    }
    size_t more = 0;
    uint32_t point = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      more = 1, point = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2, point = c & 0x0F;
      if (c == 0xE0) low = 0xA0;   // no overlong forms
      if (c == 0xED) high = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3, point = c & 0x07;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
      m_bUtf8Valid = false;
      return;
    }
    for (size_t k = 1; k <= more; ++k) {
      if (i + k >= end) {
        m_partial.assign(work, i, std::string::npos);  // completed by the next piece
        return;
      }
      const unsigned char b = text[i + k];
      if (k == 1 ? b < low || b > high : b < 0x80 || b > 0xBF) {
        m_bUtf8Valid = false;
        return;
      }
      point = point << 6 | (b & 0x3F);
    }
    PushCodePoint(point);
    m_bConvertedWide = true;
    i += more + 1;
  }
}

void CScriptTextDecoder::ConvertUnits(const unsigned char* bytes, size_t size) {
  std::string work = m_partial;
  work.append(reinterpret_cast<const char*>(bytes), size);
  const auto* text = reinterpret_cast<const unsigned char*>(work.data());
  const bool wide = m_form == Form::kUtf32Le || m_form == Form::kUtf32Be;
  const bool little = m_form == Form::kUtf16Le || m_form == Form::kUtf32Le;
  const size_t unit = wide ? 4 : 2;
  size_t i = 0;
  for (; i + unit <= work.size(); i += unit) {
    uint32_t value = 0;
    for (size_t k = 0; k < unit; ++k) {
      const uint32_t b = text[i + (little ? unit - 1 - k : k)];
      value = value << 8 | b;
    }
    if (!wide) {
      m_units.push_back(static_cast<char16_t>(value));  // pairs stay pairs
    } else if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      m_units.push_back(u'?');
    } else {
      PushCodePoint(value);
    }
  }
  m_partial.assign(work, i, std::string::npos);
}

bool ReadScriptText(IWebFileSystem& files, const CWebFile& file,
                    const std::function<bool(const CScriptViews&)>& sink, bool sameViewLeftOut) {
  CScriptTextDecoder decoder(files, sameViewLeftOut);
  CScriptViews views;
  bool more = true;
  const bool read = files.ReadPieces(file, [&](const char* bytes, size_t size) {
    views.bytes.clear();
    views.converted.clear();
    views.bConvertedIsBytes = false;
    decoder.Decode(bytes, size, &views);
    more = (views.bytes.empty() && views.converted.empty()) || sink(views);
    return more;
  });
  if (!read) return false;
  if (more) {
    views.bytes.clear();
    views.converted.clear();
    views.bConvertedIsBytes = false;
    decoder.Finish(&views);
    if (!views.bytes.empty() || !views.converted.empty()) sink(views);
  }
  return true;
}

bool ReadScriptViews(IWebFileSystem& files, const CWebFile& file, CScriptViews* whole) {
  return ReadScriptText(files, file, [&](const CScriptViews& views) {
    whole->bytes += views.bytes;
    whole->converted += views.converted;
    return true;
  });
}

std::string ReadScriptText(IWebFileSystem& files, const CWebFile& file) {
  CScriptTextDecoder decoder(files);
  CScriptViews views;
  if (!files.ReadPieces(file, [&](const char* bytes, size_t size) {
        decoder.Decode(bytes, size, &views);
        return true;
      })) {
    return " ";
  }
  decoder.Finish(&views);
  return decoder.Marked() ? views.converted : views.bytes;
}
