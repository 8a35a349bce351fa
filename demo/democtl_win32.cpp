// democtl: drives a running tavrick.exe for the demo the way an administrator would, through
// its windows. Captions and texts are given and printed in UTF-8; every wait is bounded.
//
//   democtl wait CAPTION SECONDS         a top-level dialog with this caption (or one starting
//                                        with it) exists (exit 0)
//   democtl click CAPTION ID             presses button ID of that window
//   democtl answer SECONDS [COUNT]       presses the default button of the program's message
//                                        boxes for SECONDS (or until COUNT answered), printing each text
//   democtl text CAPTION ID              prints the text of control ID
//   democtl list CAPTION ID [ROWS]       prints the rows of list view ID, columns joined by " | "
//   democtl show CAPTION                 shows the window at the screen's top left, in front;
//                                        prints "x y width height"
//   democtl hide CAPTION                 hides the window
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "remote_list_view_win32.h"

namespace {

std::wstring Wide(const std::string& text, UINT codePage) {
  const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  if (n > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

std::string Narrow(const std::wstring& wide, UINT codePage) {
  const int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n), '\0');
  if (n > 0) WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr, nullptr);
  return text;
}

// The program's texts are GBK; the demo reads UTF-8.
std::string Utf8FromGbk(const std::string& gbk) { return Narrow(Wide(gbk, 936), CP_UTF8); }

void PrintLine(const std::string& utf8) {
  const std::string line = utf8 + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

struct CDialogSearch {
  std::wstring caption;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
  auto& search = *reinterpret_cast<CDialogSearch*>(param);
  wchar_t className[32] = {}, caption[256] = {};
  GetClassNameW(window, className, 32);
  GetWindowTextW(window, caption, 256);
  if (std::wstring(className) != L"#32770" || std::wstring(caption).compare(0, search.caption.size(), search.caption) != 0) {
    return TRUE;
  }
  search.found = window;
  return FALSE;
}

// The window with this caption, or else the first whose caption starts with it (the main
// window's caption carries the version: "Tavrick" finds it).
HWND FindDialog(const std::wstring& caption) {
  if (HWND exact = FindWindowW(L"#32770", caption.c_str())) return exact;
  CDialogSearch search{caption, nullptr};
  EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitDialog(const std::wstring& caption, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (HWND window = FindDialog(caption)) return window;
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(100);
  }
}

std::string ControlText(HWND window, int id) {
  wchar_t text[4096] = {};
  SendMessageTimeoutW(GetDlgItem(window, id), WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      5000, nullptr);
  return Narrow(text, CP_UTF8);
}

// A message box is a dialog whose text sits in the static control 0xFFFF.
bool IsMessageBox(HWND window) { return GetDlgItem(window, 0xFFFF) != nullptr; }

struct CBoxSearch {
  std::vector<HWND> boxes;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM param) {
  wchar_t className[32] = {};
  GetClassNameW(window, className, 32);
  if (std::wstring(className) == L"#32770" && IsWindowVisible(window) && IsMessageBox(window)) {
    reinterpret_cast<CBoxSearch*>(param)->boxes.push_back(window);
  }
  return TRUE;
}

// The program's boxes carry its name or " 提示" as caption.
bool IsProgramBox(HWND box) {
  wchar_t caption[128] = {};
  GetWindowTextW(box, caption, 128);
  const std::wstring text = caption;
  return text == L"tavrick" || text == L" \u63D0\u793A" || text == L"\u63D0\u793A";
}

int Answer(DWORD seconds, int count) {
  const DWORD start = GetTickCount();
  int answered = 0;
  std::vector<HWND> done;
  while (GetTickCount() - start < seconds * 1000 && (count <= 0 || answered < count)) {
    CBoxSearch search;
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
    for (HWND box : search.boxes) {
      if (!IsProgramBox(box)) continue;
      bool seen = false;
      for (HWND old : done) seen = seen || old == box;
      if (seen) continue;
      done.push_back(box);
      PrintLine(ControlText(box, 0xFFFF));
      // The default button: Yes when there is one, otherwise OK.
      const int button = GetDlgItem(box, IDYES) ? IDYES : IDOK;
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
      ++answered;
    }
    Sleep(200);
  }
  return count <= 0 || answered >= count ? 0 : 1;
}

int Usage() {
  PrintLine("usage: democtl wait|click|answer|text|list|show|hide ... (see the source's head)");
  return 2;
}

}  // namespace

int main() {
  int argc = 0;
  LPWSTR* wideArgs = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(wideArgs[i]);
  LocalFree(wideArgs);
  if (args.empty()) return Usage();
  const std::string command = Narrow(args[0], CP_UTF8);
  auto number = [&](size_t i, int fallback) { return i < args.size() ? _wtoi(args[i].c_str()) : fallback; };

  if (command == "answer") return Answer(static_cast<DWORD>(number(1, 10)), number(2, 0));
  if (args.size() < 2) return Usage();
  const std::wstring caption = args[1];
  if (command == "wait") return WaitDialog(caption, static_cast<DWORD>(number(2, 10)) * 1000) ? 0 : 1;

  HWND window = FindDialog(caption);
  if (!window) {
    PrintLine("democtl: no window \"" + Narrow(caption, CP_UTF8) + "\"");
    return 1;
  }
  if (command == "click" && args.size() >= 3) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(number(2, 0), BN_CLICKED), 0);
    return 0;
  }
  if (command == "text" && args.size() >= 3) {
    PrintLine(ControlText(window, number(2, 0)));
    return 0;
  }
  if (command == "list" && args.size() >= 3) {
    CRemoteListView list(GetDlgItem(window, number(2, 0)));
    const int rows = list.Count(), limit = number(3, 50);
    HWND header = reinterpret_cast<HWND>(SendMessageW(GetDlgItem(window, number(2, 0)), 0x101F /*LVM_GETHEADER*/, 0, 0));
    const int columns = header ? static_cast<int>(SendMessageW(header, 0x1200 /*HDM_GETITEMCOUNT*/, 0, 0)) : 1;
    for (int row = 0; row < rows && row < limit; ++row) {
      std::string line;
      for (int column = 0; column < columns; ++column) line += (column ? " | " : "") + Utf8FromGbk(list.Text(row, column));
      PrintLine(line);
    }
    return 0;
  }
  if (command == "show") {
    ShowWindow(window, SW_SHOWNORMAL);
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    SetForegroundWindow(window);
    Sleep(800);  // time to paint
    RECT rc = {};
    GetWindowRect(window, &rc);
    char text[64];
    std::snprintf(text, sizeof text, "%ld %ld %ld %ld", rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
    PrintLine(text);
    return 0;
  }
  if (command == "hide") {
    ShowWindow(window, SW_HIDE);
    return 0;
  }
  return Usage();
}
