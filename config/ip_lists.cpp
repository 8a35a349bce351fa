#include "config/ip_lists.h"

#include <vector>

#include "common/crt_text.h"
#include "config/ini_access.h"

namespace {

std::string Trim(const std::string& text) {
  const char* const blanks = " \t\r\n";
  const size_t begin = text.find_first_not_of(blanks);
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find_last_not_of(blanks) - begin + 1);
}

bool PlainDottedQuad(const std::string& text) {
  uint8_t octets[4];
  return ParseDottedQuad(text, octets);
}

// One to five digits (leading zeros allowed, as the list has always been written), at most 65535.
bool PlainPort(const std::string& text) {
  if (text.empty() || text.size() > 5) return false;
  unsigned long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  return value <= 65535;
}

}  // namespace

std::string EncodeIpFilterItem(const _CIPFilter& entry) {
  std::string text =
      InetNtoa(entry.dwIp) + "|" + std::to_string(Ntohs(static_cast<uint16_t>(entry.dwPort))) + "|" + entry.strTime;
  if (IsExactEntry(entry)) text += "|0";
  return text;
}

std::string EncodeIpFilterList(const CIpFilterList& filters) {
  std::string text;
  text.reserve(filters.size() * 28);
  for (const auto& f : filters) {
    if (!text.empty()) text += ',';
    text += EncodeIpFilterItem(*f);
  }
  return text;
}

std::string EncodeIpOuterList(const CIpOuterList& exceptions) {
  std::string text;
  for (const auto& e : exceptions) {
    if (!text.empty()) text += ',';
    text += InetNtoa(e->dwIp);
  }
  return text;
}

void DecodeIpFilterList(const std::string& text, IClock& clock, CIpFilterList& filters) {
  std::vector<std::string> items, fields;
  SplitString(text, ',', items);
  for (const std::string& item : items) {
    SplitString(item, '|', fields);
    if (fields.size() < 3) continue;
    for (std::string& field : fields) field = Trim(field);
    // Without its duration an item was cut or damaged (and would be written back as one).
    if (!PlainDottedQuad(fields[0]) || !PlainPort(fields[1]) || fields[2].empty()) continue;
    auto entry = CreateIpFilter(fields[0], fields[1], fields[2], 1, clock);
    if (entry->dwIp == 0 && entry->dwPort == 0) continue;
    if (fields.size() > 3 && fields[3] == "0") MarkExact(*entry);
    filters.push_back(std::move(entry));
  }
}

void DecodeIpOuterList(const std::string& text, CIpOuterList& exceptions) {
  std::vector<std::string> items;
  SplitString(text, ',', items);
  for (const std::string& item : items) {
    const std::string ip = Trim(item);
    if (PlainDottedQuad(ip)) exceptions.push_back(CreateIpOuter(ip, "0"));
  }
}
