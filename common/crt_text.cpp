#include "common/crt_text.h"

#include <cctype>
#include <climits>


int32_t CAtoi(const char* text) {
  if (!text) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > int64_t(INT32_MAX) + 1) value = int64_t(INT32_MAX) + 1;  // keep clamping, never overflow
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// One C-notation number; false when no digit or a digit outside the base.
bool ParsePart(const char*& p, uint64_t& value) {
  unsigned base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  } else if (p[0] == '0') {
    base = 8;
  }
  const char* start = p;
  value = 0;
  for (;; ++p) {
    unsigned digit;
    char c = *p;
    if (c >= '0' && c <= '9') digit = unsigned(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') digit = unsigned(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') digit = unsigned(c - 'A' + 10);
    else break;
    if (digit >= base) return false;
    value = value * base + digit;
    if (value > 0xFFFFFFFFull) return false;
  }
  return p != start || base == 8;  // "0" alone is a valid octal zero; "0x" alone is not
}

}  // namespace

uint32_t InetAddr(const char* text) {
  if (!text || !*text) return kInaddrNone;
  if (IsBlank(*text)) return 0;
  uint64_t parts[4];
  int count = 0;
  const char* p = text;
  for (;;) {
    if (count == 4) return kInaddrNone;
    if (!ParsePart(p, parts[count])) return kInaddrNone;
    ++count;
    if (*p == '.') {
      ++p;
      continue;
    }
    if (*p == '\0' || IsBlank(*p)) break;
    return kInaddrNone;
  }
  uint64_t host = 0;
  switch (count) {
    case 1:
      host = parts[0];
      break;
    case 2:
      if (parts[0] > 0xFF || parts[1] > 0xFFFFFF) return kInaddrNone;
      host = (parts[0] << 24) | parts[1];
      break;
    case 3:
      if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF) return kInaddrNone;
      host = (parts[0] << 24) | (parts[1] << 16) | parts[2];
      break;
    default:
      for (int i = 0; i < 4; ++i)
        if (parts[i] > 0xFF) return kInaddrNone;
      host = (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
      break;
  }
  // Network order: the first octet is the lowest byte of the value.
  uint32_t h = static_cast<uint32_t>(host);
  return (h >> 24) | ((h >> 8) & 0xFF00u) | ((h << 8) & 0xFF0000u) | (h << 24);
}

std::string InetNtoa(uint32_t ip) {
  std::string out;
  for (int i = 0; i < 4; ++i) {
    if (i) out += '.';
    out += std::to_string((ip >> (8 * i)) & 0xFF);
  }
  return out;
}

uint16_t Htons(uint16_t host) { return static_cast<uint16_t>((host >> 8) | (host << 8)); }

uint32_t PortFromText(const char* text) {
  return Htons(static_cast<uint16_t>(static_cast<uint32_t>(CAtol(text))));
}

bool ParseDigits(const std::string& text, int* value) {
  if (text.empty()) return false;
  long long number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    if (number <= INT_MAX) number = number * 10 + (c - '0');
  }
  *value = number > INT_MAX ? INT_MAX : static_cast<int>(number);
  return true;
}
