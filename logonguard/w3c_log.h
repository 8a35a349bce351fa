#pragma once
// IIS FTP logs in the W3C extended format: the latest "#Fields:" line decides which column is
// which, fields are split at blanks, "-" is an empty value. A failure is a PASS command answered
// 530, a success a PASS answered 230. The address is the c-ip column's and nothing else: IIS
// writes a blank inside a value as '+', so a line whose column count differs from the header's
// (a name that held a raw blank) gives nothing. IIS writes the log in UTF-8; a user name is shown
// with '+' as the blank it stands for, converted to the program's text (toAnsi).
#include <string>
#include <vector>

#include "logonguard/log_text.h"
#include "logonguard/logon_event.h"

class CW3cReader {
 public:
  explicit CW3cReader(TextConverter toAnsi = {}) : m_toAnsi(std::move(toAnsi)) {}
  // Reads one complete line (without its line break). Directives set the columns; a data line
  // before any "#Fields:" or without the needed columns gives kNone.
  CLogonEvent ReadLine(const char* line, size_t length);
  CLogonEvent ReadLine(const std::string& line) { return ReadLine(line.data(), line.size()); }
  bool HasFields() const { return m_nMethod >= 0 && m_nStatus >= 0 && m_nClientIp >= 0; }
  void Reset() { *this = CW3cReader(std::move(m_toAnsi)); }

 private:
  void ReadFields(const char* text, size_t length);

  TextConverter m_toAnsi;
  int m_nDate = -1, m_nTime = -1, m_nClientIp = -1, m_nUser = -1, m_nMethod = -1, m_nStatus = -1;
  int m_nColumns = 0;
};

// Cuts bytes that arrive in any pieces into whole lines (LF or CR LF). A partial last line is held
// until its end arrives; a line longer than the bound is dropped whole, never split into two.
class CLineAssembler {
 public:
  static constexpr size_t kMaxLineBytes = 8192;
  template <typename OnLine>
  void Feed(const char* data, size_t size, OnLine&& onLine);
  // Hands over a held last line that will never be finished (the file was left for a newer one).
  template <typename OnLine>
  void Flush(OnLine&& onLine);
  void Clear() {
    m_strHeld.clear();
    m_bOverlong = false;
  }
  size_t HeldBytes() const { return m_strHeld.size(); }

 private:
  std::string m_strHeld;
  bool m_bOverlong = false;
};

template <typename OnLine>
void CLineAssembler::Feed(const char* data, size_t size, OnLine&& onLine) {
  size_t start = 0;
  while (start < size) {
    const void* found = std::char_traits<char>::find(data + start, size - start, '\n');
    if (found == nullptr) {
      if (!m_bOverlong) {
        if (m_strHeld.size() + (size - start) > kMaxLineBytes) {
          m_bOverlong = true;
          m_strHeld.clear();
        } else {
          m_strHeld.append(data + start, size - start);
        }
      }
      return;
    }
    const size_t end = static_cast<const char*>(found) - data;
    if (m_bOverlong) {
      m_bOverlong = false;
    } else if (m_strHeld.empty()) {
      size_t length = end - start;
      if (length > 0 && data[start + length - 1] == '\r') --length;
      if (length <= kMaxLineBytes) onLine(data + start, length);
    } else {
      m_strHeld.append(data + start, end - start);
      if (!m_strHeld.empty() && m_strHeld.back() == '\r') m_strHeld.pop_back();
      if (m_strHeld.size() <= kMaxLineBytes) onLine(m_strHeld.data(), m_strHeld.size());
      m_strHeld.clear();
    }
    start = end + 1;
  }
}

template <typename OnLine>
void CLineAssembler::Flush(OnLine&& onLine) {
  if (!m_bOverlong && !m_strHeld.empty()) {
    if (m_strHeld.back() == '\r') m_strHeld.pop_back();
    onLine(m_strHeld.data(), m_strHeld.size());
  }
  Clear();
}
