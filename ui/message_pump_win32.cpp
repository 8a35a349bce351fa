#include "ui/message_pump_win32.h"

#include "ui/dialog_win32.h"

void RouteMessage(MSG& msg) {
  HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  CDialog* dialog = root ? CDialog::FromWindow(root) : nullptr;
  if (dialog) {
    if (dialog->PreTranslateMessage(&msg)) return;
    if (IsDialogMessageA(root, &msg)) return;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

bool PumpPendingMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    RouteMessage(msg);
  }
  return true;
}

void PumpMessagesAndWait(int milliseconds) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(milliseconds > 0 ? milliseconds : 0);
  for (;;) {
    if (!PumpPendingMessages()) return;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

void RunMessageLoop(const std::function<bool()>& done) {
  MSG msg;
  while (!done()) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {  // WM_QUIT: end this loop and hand the quit on
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (got == -1) return;
    RouteMessage(msg);
  }
}
