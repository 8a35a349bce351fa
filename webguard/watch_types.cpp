#include "webguard/watch_types.h"

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

bool MatchesWatchType(const std::string& path, const std::string* types, int typeCount) {
  std::string extension;
  if (!ExtensionOfPath(path, &extension)) return false;
  extension = LowerGbk(extension);
  for (int i = 0; i < typeCount; ++i) {
    if (LowerGbk(types[i]) == extension) return true;
  }
  return false;
}
