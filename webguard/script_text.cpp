#include "webguard/script_text.h"

#include <cstring>

void CScriptTextDecoder::Decode(const char* bytes, size_t size, std::string* text) {
  if (m_form == Form::kUndecided) {
    m_head.append(bytes, size);
    if (m_head.size() < 2) return;
    const auto first = static_cast<unsigned char>(m_head[0]), second = static_cast<unsigned char>(m_head[1]);
    const std::string head = std::move(m_head);
    m_head.clear();
    if (first == 0xFF && second == 0xFE) {
      m_form = Form::kUtf16Le;
    } else if (first == 0xFE && second == 0xFF) {
      m_form = Form::kUtf16Be;
    } else {
      m_form = Form::kBytes;
      Fold(head.data(), head.size(), text);
      return;
    }
    DecodeUtf16(reinterpret_cast<const unsigned char*>(head.data()) + 2, head.size() - 2, text);
    return;
  }
  if (m_form == Form::kBytes) {
    Fold(bytes, size, text);
  } else {
    DecodeUtf16(reinterpret_cast<const unsigned char*>(bytes), size, text);
  }
}

void CScriptTextDecoder::Finish(std::string* text) {
  if (m_form == Form::kUndecided) {
    m_form = Form::kBytes;
    Fold(m_head.data(), m_head.size(), text);
    m_head.clear();
  }
  std::string rest;
  m_units.clear();
  if (m_highSurrogate) m_units.push_back(m_highSurrogate);
  m_highSurrogate = 0;
  if (!m_units.empty()) m_system.AppendGbk(m_units.data(), m_units.size(), &rest);
  m_units.clear();
  if (m_oddByte >= 0) rest.push_back(static_cast<char>(m_oddByte));  // half a unit: kept as a byte
  m_oddByte = -1;
  Fold(rest.data(), rest.size(), text);
  if (m_bPendingCr) text->push_back('\r');
  m_bPendingCr = false;
}

void CScriptTextDecoder::DecodeUtf16(const unsigned char* bytes, size_t size, std::string* text) {
  m_units.clear();
  if (m_highSurrogate) m_units.push_back(m_highSurrogate);
  m_highSurrogate = 0;
  size_t i = 0;
  if (m_oddByte >= 0 && size > 0) {
    const unsigned char a = static_cast<unsigned char>(m_oddByte), b = bytes[0];
    m_units.push_back(static_cast<char16_t>(m_form == Form::kUtf16Le ? a | b << 8 : a << 8 | b));
    m_oddByte = -1;
    i = 1;
  }
  for (; i + 1 < size; i += 2) {
    m_units.push_back(static_cast<char16_t>(m_form == Form::kUtf16Le ? bytes[i] | bytes[i + 1] << 8
                                                                      : bytes[i] << 8 | bytes[i + 1]));
  }
  if (i < size) m_oddByte = bytes[i];
  // A pair cut by the piece boundary waits for its second half.
  if (!m_units.empty() && m_units.back() >= 0xD800 && m_units.back() <= 0xDBFF) {
    m_highSurrogate = m_units.back();
    m_units.pop_back();
  }
  std::string converted;
  if (!m_units.empty()) m_system.AppendGbk(m_units.data(), m_units.size(), &converted);
  Fold(converted.data(), converted.size(), text);
}

void CScriptTextDecoder::Fold(const char* bytes, size_t size, std::string* text) {
  if (size == 0) return;
  size_t i = 0;
  if (m_bPendingCr) {
    m_bPendingCr = false;
    if (bytes[0] != '\n') text->push_back('\r');
  }
  while (i < size) {
    const void* found = std::memchr(bytes + i, '\r', size - i);
    const size_t cr = found ? static_cast<size_t>(static_cast<const char*>(found) - bytes) : size;
    text->append(bytes + i, cr - i);
    if (cr == size) break;
    if (cr + 1 == size) {
      m_bPendingCr = true;  // the next piece may begin with its LF
      break;
    }
    if (bytes[cr + 1] != '\n') text->push_back('\r');
    i = cr + 1;
  }
}

bool ReadScriptText(IWebFileSystem& files, const CWebFile& file,
                    const std::function<bool(const std::string&)>& sink) {
  CScriptTextDecoder decoder(files);
  std::string text;
  bool more = true;
  const bool opened = files.ReadPieces(file, [&](const char* bytes, size_t size) {
    text.clear();
    decoder.Decode(bytes, size, &text);
    more = text.empty() || sink(text);
    return more;
  });
  if (!opened) return false;
  if (more) {
    text.clear();
    decoder.Finish(&text);
    if (!text.empty()) sink(text);
  }
  return true;
}

std::string ReadScriptText(IWebFileSystem& files, const CWebFile& file) {
  std::string whole;
  if (!ReadScriptText(files, file, [&](const std::string& text) {
        whole += text;
        return true;
      })) {
    return " ";
  }
  return whole;
}
