#pragma once
#include <windows.h>

#include <string>

#include "app/startup.h"

// The application object: the real ports of start-up.
class CTavrickApp : public IStartupPorts {
 public:
  explicit CTavrickApp(HINSTANCE hInstance) : m_hInstance(hInstance) {}
  int Run(const std::string& commandLine);  // process exit code

  bool CreateInstanceMutex(const std::string& name) override;
  void CloseInstanceMutex() override;
  bool HandInterruptedUpdateToUpdater() override;
  bool AskServiceCopyToHandOver() override;
  bool WaitForHandOver(int seconds) override;
  void OfferHandOver() override;
  bool StartedByServiceCopy() override;
  void ShowMessage(const std::string& text) override;
  void EnableControlHosting() override;
  bool RunMainDialog() override;

 private:
  HINSTANCE m_hInstance;
  HANDLE m_hInstanceMutex = nullptr;  // held, never closed: the name stays taken until exit
};
