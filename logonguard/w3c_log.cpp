#include "logonguard/w3c_log.h"

#include <cstring>

namespace {

constexpr int kMaxColumns = 64;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool Equals(const char* text, size_t length, const char* word) {
  return std::strlen(word) == length && std::memcmp(text, word, length) == 0;
}

bool EqualsNoCase(const char* text, size_t length, const char* word) {
  if (std::strlen(word) != length) return false;
  for (size_t i = 0; i < length; ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != word[i]) return false;
  }
  return true;
}

struct CSpan {
  const char* p = nullptr;
  size_t n = 0;
};

// Splits at blanks into at most kMaxColumns spans; returns how many, or kMaxColumns + 1 when
// there are more (such a line matches no header).
int SplitBlanks(const char* text, size_t length, CSpan* out) {
  int count = 0;
  size_t i = 0;
  while (i < length) {
    while (i < length && IsBlank(text[i])) ++i;
    if (i == length) break;
    if (count == kMaxColumns) return kMaxColumns + 1;
    const size_t start = i;
    while (i < length && !IsBlank(text[i])) ++i;
    out[count++] = {text + start, i - start};
  }
  return count;
}

// "-" is W3C for "no value"; control bytes never leave the reader.
std::string Value(const CSpan& span, size_t bound) {
  if (span.n == 1 && span.p[0] == '-') return {};
  std::string out(span.p, span.n < bound ? span.n : bound);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  return out;
}

// A user name as IIS writes it: '+' for a blank.
std::string UserName(const CSpan& span) {
  if (span.n == 1 && span.p[0] == '-') return {};
  std::string out(span.p, span.n < kMaxUserBytes * 4 ? span.n : kMaxUserBytes * 4);
  for (char& c : out) {
    if (c == '+') c = ' ';
    else if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return out;
}

}  // namespace

void CW3cReader::ReadFields(const char* text, size_t length) {
  CSpan spans[kMaxColumns];
  const int count = SplitBlanks(text, length, spans);
  Reset();
  if (count > kMaxColumns) return;  // a header beyond the bound: no line is read until the next one
  m_nColumns = count;
  for (int i = 0; i < count; ++i) {
    const CSpan& s = spans[i];
    if (Equals(s.p, s.n, "date")) m_nDate = i;
    else if (Equals(s.p, s.n, "time")) m_nTime = i;
    else if (Equals(s.p, s.n, "c-ip")) m_nClientIp = i;
    else if (Equals(s.p, s.n, "cs-username")) m_nUser = i;
    else if (Equals(s.p, s.n, "cs-method")) m_nMethod = i;
    else if (Equals(s.p, s.n, "sc-status")) m_nStatus = i;
  }
}

CLogonEvent CW3cReader::ReadLine(const char* line, size_t length) {
  CLogonEvent event;
  event.eSource = ELogonSource::kFtp;
  if (length > 0 && line[0] == '#') {
    static const char kFields[] = "#Fields:";
    if (length >= sizeof kFields - 1 && std::memcmp(line, kFields, sizeof kFields - 1) == 0)
      ReadFields(line + sizeof kFields - 1, length - (sizeof kFields - 1));
    return event;
  }
  if (!HasFields()) return event;
  CSpan spans[kMaxColumns];
  const int count = SplitBlanks(line, length, spans);
  if (count != m_nColumns) return event;  // a line of another layout, or a cut one
  const CSpan& method = spans[m_nMethod];
  if (!EqualsNoCase(method.p, method.n, "PASS")) return event;
  const CSpan& status = spans[m_nStatus];
  if (Equals(status.p, status.n, "530")) event.eOutcome = ELogonOutcome::kFailure;
  else if (Equals(status.p, status.n, "230")) event.eOutcome = ELogonOutcome::kSuccess;
  else return event;
  const CSpan& ip = spans[m_nClientIp];
  event.strAddress = ip.n <= kMaxAddressBytes ? Value(ip, kMaxAddressBytes) : std::string();
  if (m_nUser >= 0) event.strUser = ConvertedValue(UserName(spans[m_nUser]), kMaxUserBytes, m_toAnsi);
  if (m_nDate >= 0 && m_nTime >= 0) {
    event.strTime = Value(spans[m_nDate], 10) + " " + Value(spans[m_nTime], 12);
    event.tRecord = ReadRecordTime(event.strTime);
  }
  return event;
}
