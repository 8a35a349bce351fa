#include "ui/web_link.h"

#include <cctype>

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  size_t i = 0;
  for (; prefix[i]; ++i) {
    if (i >= text.size()) return false;
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

}  // namespace

bool IsWebLink(const std::string& url) {
  size_t rest = 0;
  if (StartsWithNoCase(url, "http://")) rest = 7;
  else if (StartsWithNoCase(url, "https://")) rest = 8;
  else return false;
  if (url.size() <= rest) return false;
  for (char c : url) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F) return false;
  }
  return true;
}
