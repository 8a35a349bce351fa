#include "ui/web_link_win32.h"

#include <shellapi.h>

#include "ui/web_link.h"

bool OpenWebLink(HWND owner, const std::string& url) {
  if (!IsWebLink(url)) return false;
  const auto result = reinterpret_cast<INT_PTR>(ShellExecuteA(owner, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}
