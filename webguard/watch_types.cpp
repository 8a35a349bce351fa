#include "webguard/watch_types.h"

#include <vector>

#include "webguard/gbk_text.h"

size_t FindLastSeparator(const std::string& path, char separator) {
  size_t found = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == separator) found = i;
    if (IsGbkLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) ++i;
  }
  return found;
}

size_t FindFirstSeparator(const std::string& path, char separator) {
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == separator) return i;
    if (IsGbkLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) ++i;
  }
  return std::string::npos;
}

bool ExtensionOfPath(const std::string& path, std::string* extension) {
  size_t slash = FindLastSeparator(path, '\\');
  if (slash == std::string::npos) slash = FindLastSeparator(path, '/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // IIS runs "x.asp;.jpg" as ASP: what follows the first semicolon does not count.
  const size_t semicolon = FindFirstSeparator(name, ';');
  if (semicolon != std::string::npos) name.resize(semicolon);
  const size_t dot = FindLastSeparator(name, '.');
  std::string ext = dot == std::string::npos ? name : name.substr(dot + 1);
  if (ext.size() > kMaxExtensionLength) return false;
  *extension = ext;
  return true;
}

std::string LowerGbk(const std::string& text) {
  std::string lower = text;
  for (size_t i = 0; i < lower.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(lower[i]);
    if (IsGbkLeadByte(c) && i + 1 < lower.size()) {
      ++i;  // the trail byte may look like a letter; it is not one
    } else if (c >= 'A' && c <= 'Z') {
      lower[i] = static_cast<char>(c - 'A' + 'a');
    }
  }
  return lower;
}

namespace {

// The text after the last "." of a name, or the whole name; false when too long.
bool ExtensionOfName(const std::string& name, std::string* extension) {
  const size_t dot = FindLastSeparator(name, '.');
  std::string ext = dot == std::string::npos ? name : name.substr(dot + 1);
  if (ext.size() > kMaxExtensionLength) return false;
  *extension = LowerGbk(ext);
  return true;
}

bool IsMonitored(const std::string& extension, const std::string* types, int typeCount) {
  // The servers run these names as the family they stand beside: a watched family covers them.
  const std::string family = ScriptFamilyOf(extension);
  for (int i = 0; i < typeCount; ++i) {
    const std::string type = LowerGbk(types[i]);
    if (type == extension || (!family.empty() && type == family)) return true;
  }
  return false;
}

// Positions of the separators (backslash, or forward slash) that are characters of their own.
std::vector<size_t> Separators(const std::string& path) {
  std::vector<size_t> at;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\' || path[i] == '/') at.push_back(i);
    if (IsGbkLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) ++i;
  }
  return at;
}

}  // namespace

std::string ScriptFamilyOf(const std::string& extension) {
  static const char* const kAliases[][2] = {
      {"ashx", "aspx"}, {"asmx", "aspx"}, {"cer", "asp"},   {"cdx", "asp"},   {"jspx", "jsp"},
      {"phtml", "php"}, {"php3", "php"},  {"php4", "php"},  {"php5", "php"},  {"php6", "php"},
      {"php7", "php"},  {"phar", "php"},
  };
  const std::string lower = LowerGbk(extension);
  for (const auto& alias : kAliases) {
    if (lower == alias[0]) return alias[1];
  }
  return std::string();
}

bool IsServerConfigName(const std::string& path) {
  const std::vector<size_t> separators = Separators(path);
  const std::string name = LowerGbk(path.substr(separators.empty() ? 0 : separators.back() + 1));
  return name == ".htaccess" || name == ".user.ini" || name == "web.config";
}

bool MatchesWatchType(const std::string& path, const std::string* types, int typeCount) {
  const std::vector<size_t> separators = Separators(path);
  const size_t nameStart = separators.empty() ? 0 : separators.back() + 1;
  const std::string name = path.substr(nameStart);
  // The servers' per-folder settings can make any name a script: always checked.
  if (IsServerConfigName(path)) return true;
  std::string extension;
  if (ExtensionOfName(name, &extension) && IsMonitored(extension, types, typeCount)) return true;
  const size_t semicolon = FindFirstSeparator(name, ';');
  if (semicolon != std::string::npos && ExtensionOfName(name.substr(0, semicolon), &extension) &&
      IsMonitored(extension, types, typeCount)) {
    return true;
  }
  // Folders named like ASP pages.
  size_t start = 0;
  for (size_t sep : separators) {
    const std::string folder = path.substr(start, sep - start);
    start = sep + 1;
    const size_t dot = FindLastSeparator(folder, '.');
    if (dot == std::string::npos) continue;
    const std::string folderType = LowerGbk(folder.substr(dot + 1));
    if ((folderType == "asp" || folderType == "asa") && IsMonitored(folderType, types, typeCount)) return true;
  }
  return false;
}

size_t PathPartCount(const std::string& path) {
  size_t count = 1;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\') ++count;
    if (IsGbkLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) ++i;
  }
  return count;
}

std::string LastPathParts(const std::string& path, size_t count, char separator) {
  std::vector<size_t> at;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == separator) at.push_back(i);
    if (IsGbkLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) ++i;
  }
  if (count == 0 || at.size() < count) return path;
  return path.substr(at[at.size() - count] + 1);
}

std::u16string LastPathParts(const std::u16string& path, size_t count) {
  size_t found = 0;
  for (size_t i = path.size(); i > 0; --i) {
    if (path[i - 1] == u'\\' && ++found == count) return path.substr(i);
  }
  return path;
}
