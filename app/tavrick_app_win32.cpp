#include "app/tavrick_app_win32.h"

#include <commctrl.h>
#include <sddl.h>

#include "app/tavrick_dlg_win32.h"
#include "common/version.h"
#include "update/upgrade_win32.h"
#include "ui/prompt_win32.h"

int CTavrickApp::Run(const std::string& commandLine) {
  int exitCode = 0;
  InitInstance(commandLine, *this, &exitCode);
  return exitCode;
}

bool CTavrickApp::CreateInstanceMutex(const std::string& name) {
  PSECURITY_DESCRIPTOR access = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorA(kInstanceMutexSddl, SDDL_REVISION_1, &access, nullptr);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, access, FALSE};
  m_hInstanceMutex = CreateMutexA(access ? &attributes : nullptr, FALSE, name.c_str());
  const DWORD error = GetLastError();
  if (access) LocalFree(access);
  // A name we may not open is held all the same: by a copy under another account.
  return m_hInstanceMutex ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED;
}

void CTavrickApp::CloseInstanceMutex() {
  if (m_hInstanceMutex) CloseHandle(m_hInstanceMutex);
  m_hInstanceMutex = nullptr;
}

bool CTavrickApp::HandInterruptedUpdateToUpdater() { return ::HandInterruptedUpdateToUpdater(); }

void CTavrickApp::ShowMessage(const std::string& text) { AppMessageBox(nullptr, text); }

void CTavrickApp::EnableControlHosting() {
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES | ICC_BAR_CLASSES |
                                               ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
}

bool CTavrickApp::RunMainDialog() {
  SetResourceModule(m_hInstance);
  CTavrickDlg dlg;
  return dlg.DoModal() != -1;
}
