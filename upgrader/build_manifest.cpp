#include "upgrader/build_manifest.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsDeviceName(const std::string& lowerStem) {
  static const char* const kDevices[] = {"con", "prn", "aux", "nul", "clock$"};
  for (const char* device : kDevices)
    if (lowerStem == device) return true;
  return lowerStem.size() == 4 && (lowerStem.compare(0, 3, "com") == 0 || lowerStem.compare(0, 3, "lpt") == 0) &&
         lowerStem[3] >= '0' && lowerStem[3] <= '9';
}

bool IsDecimal(const std::string& text, size_t maxDigits) {
  return !text.empty() && text.size() <= maxDigits && std::all_of(text.begin(), text.end(), [](char c) {
           return c >= '0' && c <= '9';
         });
}

// "2", "2.40": what a version file's first field holds.
bool IsVersionText(const std::string& text) {
  const size_t dot = text.find('.');
  const std::string whole = text.substr(0, dot);
  const std::string part = dot == std::string::npos ? "0" : text.substr(dot + 1);
  return IsDecimal(whole, 4) && IsDecimal(part, 4);
}

bool IsSha256Hex(const std::string& text) {
  return text.size() == 64 &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

bool IsReplaceableName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name[0] == '.' || name.back() == '.') return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') return false;
  }
  const std::string lower = Lower(name);
  // The configuration with its copies ("tavrick.cfg.bak", ".bak.tmp", ".damaged") and the log
  // folder with anything named like it belong to the administrator, whatever comes after.
  static const char* const kKeptPrefixes[] = {"tavrick.cfg", "log"};
  for (const char* kept : kKeptPrefixes)
    if (lower.compare(0, std::strlen(kept), kept) == 0) return false;
  static const char* const kKept[] = {"upgrade.ini", "upgrade.exe", "upgrade.new", "upgrade.old"};
  for (const char* kept : kKept)
    if (lower == kept) return false;
  return !IsDeviceName(lower.substr(0, lower.find('.')));
}

bool ParseManifest(const std::string& text, CBuildManifest& manifest, std::string& reason) {
  manifest = CBuildManifest();
  if (text.size() > kMaxManifestBytes) {
    reason = "文件清单过长";
    return false;
  }
  std::istringstream lines(text);
  std::string line;
  std::vector<std::string> seen;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::istringstream words(line);
    std::string kind, a, b, c, extra;
    words >> kind >> a >> b >> c >> extra;
    if (kind == "version" && !a.empty() && b.empty() && manifest.strVersion.empty() && IsVersionText(a)) {
      manifest.strVersion = a;
    } else if (kind == "file" && extra.empty() && IsReplaceableName(a) && IsDecimal(b, 12) && IsSha256Hex(c) &&
               std::stoull(b) <= kMaxFileBytes && manifest.files.size() < kMaxFiles &&
               std::find(seen.begin(), seen.end(), Lower(a)) == seen.end()) {
      seen.push_back(Lower(a));
      manifest.files.push_back({a, std::stoull(b), c});
    } else {
      reason = "文件清单有误: " + line.substr(0, 80);
      return false;
    }
  }
  if (manifest.strVersion.empty()) {
    reason = "文件清单没有版本";
    return false;
  }
  if (std::find(seen.begin(), seen.end(), kProgramName) == seen.end()) {
    reason = "文件清单没有tavrick.exe";
    return false;
  }
  return true;
}
