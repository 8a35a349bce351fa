#pragma once
#include <windows.h>

#include <string>

// Opens a web link in the browser (shell verb "open", normal show state); anything that is not
// a web link (ui/web_link.h) is refused. Failures stay silent. True when the shell took it.
bool OpenWebLink(HWND owner, const std::string& url);
