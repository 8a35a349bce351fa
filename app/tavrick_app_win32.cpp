#include "app/tavrick_app_win32.h"

#include <commctrl.h>
#include <sddl.h>

#include "app/handover_win32.h"
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

bool CTavrickApp::AskServiceCopyToHandOver() { return AskForHandOver(); }

bool CTavrickApp::WaitForHandOver(int seconds) { return WaitHandOverReleased(static_cast<DWORD>(seconds) * 1000); }

namespace {
// In the environment every process the service's copy starts inherits.
const char kServiceCopyMark[] = "TAVRICK_SERVICE_COPY";
}  // namespace

void CTavrickApp::OfferHandOver() {
  SetEnvironmentVariableA(kServiceCopyMark, "1");
  ::OfferHandOver();
}

bool CTavrickApp::StartedByServiceCopy() {
  char value[4] = {};
  return GetEnvironmentVariableA(kServiceCopyMark, value, sizeof value) == 1 && value[0] == '1';
}

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
