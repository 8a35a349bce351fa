#include "app/tavrick_app_win32.h"

#include <commctrl.h>

#include "app/tavrick_dlg_win32.h"
#include "app/version.h"
#include "ui/prompt_win32.h"

int CTavrickApp::Run(const std::string& commandLine) {
  InitInstance(commandLine, *this);
  return 0;
}

bool CTavrickApp::CreateInstanceMutex() {
  m_hInstanceMutex = CreateMutexA(nullptr, FALSE, kInstanceMutexName);
  return m_hInstanceMutex && GetLastError() == ERROR_ALREADY_EXISTS;
}

void CTavrickApp::CloseInstanceMutex() {
  if (m_hInstanceMutex) CloseHandle(m_hInstanceMutex);
  m_hInstanceMutex = nullptr;
}

void CTavrickApp::ShowMessage(const std::string& text) { AppMessageBox(nullptr, text); }

void CTavrickApp::EnableControlHosting() {
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES | ICC_BAR_CLASSES |
                                               ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
}

void CTavrickApp::RunMainDialog() {
  SetResourceModule(m_hInstance);
  CTavrickDlg dlg;
  dlg.DoModal();
}
