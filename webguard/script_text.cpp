#include "webguard/script_text.h"

std::string TextModeContent(const std::string& raw) {
  std::string text;
  text.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '\x1A' || c == '\0') break;
    if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text.push_back(c);
  }
  return text;
}

std::string ReadScriptText(IWebFileSystem& files, const std::string& path) {
  std::string raw;
  uint64_t size = 0;
  if (!files.FileSize(path, &size) || size >= kScriptSizeLimit) return " ";
  if (!files.ReadRaw(path, &raw)) return " ";
  return TextModeContent(raw);
}
