#include "logonguard/logon_address.h"

#include <cstdint>
#include <cstdio>

#include "common/ip_entries.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Groups of up to four hex digits, one "::", an optional dotted IPv4 tail.
bool ParseIpv6(const std::string& text, uint8_t out[16]) {
  uint16_t head[8], tail[8];
  int nHead = 0, nTail = 0;
  bool gap = false;
  size_t pos = 0;
  if (text.compare(0, 2, "::") == 0) {
    gap = true;
    pos = 2;
  }
  while (pos < text.size()) {
    const int total = nHead + nTail;
    // An IPv4 tail takes the last 32 bits.
    const size_t nextColon = text.find(':', pos);
    if (nextColon == std::string::npos && text.find('.', pos) != std::string::npos) {
      uint8_t v4[4];
      if (total > 6 || !ParseDottedQuad(text.substr(pos), v4)) return false;
      uint16_t* groups = gap ? tail : head;
      int& n = gap ? nTail : nHead;
      groups[n++] = static_cast<uint16_t>(v4[0] << 8 | v4[1]);
      groups[n++] = static_cast<uint16_t>(v4[2] << 8 | v4[3]);
      pos = text.size();
      break;
    }
    int value = 0, digits = 0;
    while (pos < text.size() && HexValue(text[pos]) >= 0 && digits < 5) {
      value = value * 16 + HexValue(text[pos++]);
      ++digits;
    }
    if (digits == 0 || digits > 4 || total >= 8) return false;
    (gap ? tail[nTail++] : head[nHead++]) = static_cast<uint16_t>(value);
    if (pos == text.size()) break;
    if (text[pos] != ':') return false;
    ++pos;
    if (pos < text.size() && text[pos] == ':') {
      if (gap) return false;
      gap = true;
      ++pos;
    } else if (pos == text.size()) {
      return false;  // a single trailing colon
    }
  }
  const int total = nHead + nTail;
  if (gap ? total > 7 : total != 8) return false;
  uint16_t groups[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < nHead; ++i) groups[i] = head[i];
  for (int i = 0; i < nTail; ++i) groups[8 - nTail + i] = tail[i];
  for (int i = 0; i < 8; ++i) {
    out[2 * i] = static_cast<uint8_t>(groups[i] >> 8);
    out[2 * i + 1] = static_cast<uint8_t>(groups[i] & 0xff);
  }
  return true;
}

CLogonAddress FromIpv4(const uint8_t a[4]) {
  // Unspecified, "this network", loopback, multicast and broadcast never sign in from outside.
  if (a[0] == 0 || a[0] == 127 || a[0] >= 224) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
  return {EAddressKind::kIpv4, text};
}

std::string FormatIpv6(const uint8_t b[16]) {
  uint16_t g[8];
  for (int i = 0; i < 8; ++i) g[i] = static_cast<uint16_t>(b[2 * i] << 8 | b[2 * i + 1]);
  int bestStart = -1, bestLen = 0;
  for (int i = 0; i < 8;) {
    if (g[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && g[j] == 0) ++j;
    if (j - i > bestLen && j - i >= 2) {
      bestStart = i;
      bestLen = j - i;
    }
    i = j;
  }
  std::string out;
  char group[8];
  for (int i = 0; i < 8; ++i) {
    if (i == bestStart) {
      out += "::";
      i += bestLen - 1;
      continue;
    }
    if (!out.empty() && out.back() != ':') out += ':';
    std::snprintf(group, sizeof group, "%x", g[i]);
    out += group;
  }
  return out;
}

}  // namespace

CLogonAddress ReadLogonAddress(const std::string& raw) {
  size_t begin = 0, end = raw.size();
  while (begin < end && (raw[begin] == ' ' || raw[begin] == '\t')) ++begin;
  while (end > begin && (raw[end - 1] == ' ' || raw[end - 1] == '\t')) --end;
  if (end - begin > 64) return {};
  std::string text = raw.substr(begin, end - begin);
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
  uint8_t v4[4];
  if (ParseDottedQuad(text, v4)) return FromIpv4(v4);
  const size_t zone = text.find('%');
  if (zone != std::string::npos) text.resize(zone);
  uint8_t v6[16];
  if (text.find(':') == std::string::npos || !ParseIpv6(text, v6)) return {};
  bool zeroHead = true;
  for (int i = 0; i < 10; ++i) zeroHead = zeroHead && v6[i] == 0;
  if (zeroHead && v6[10] == 0xff && v6[11] == 0xff) return FromIpv4(v6 + 12);  // ::ffff:a.b.c.d
  bool allZero = zeroHead && v6[10] == 0 && v6[11] == 0 && v6[12] == 0 && v6[13] == 0 && v6[14] == 0;
  if (allZero && (v6[15] == 0 || v6[15] == 1)) return {};  // :: and ::1
  if (v6[0] == 0xff) return {};                             // multicast
  return {EAddressKind::kIpv6, FormatIpv6(v6)};
}
