#include "ui/working_window_win32.h"

bool CWorkingWindow::OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
  if (message != WM_CLOSE) return false;
  ShowWindow(SW_HIDE);
  result = 0;
  return true;
}
