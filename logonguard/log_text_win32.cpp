#include "logonguard/log_text_win32.h"

#include <windows.h>

#include <vector>

std::string Utf8ToAnsi(const std::string& utf8) {
  if (utf8.empty() || utf8.size() > 64 * 1024) return utf8;
  bool ascii = true;
  for (char c : utf8) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return utf8;
  const int length = static_cast<int>(utf8.size());
  const int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
  if (wide <= 0) return utf8;  // not UTF-8: a log written in the ANSI code page
  std::vector<wchar_t> text(static_cast<size_t>(wide));
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, text.data(), wide) != wide) return utf8;
  const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), wide, nullptr, 0, "?", nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), wide, &out[0], size, "?", nullptr);
  return out;
}
