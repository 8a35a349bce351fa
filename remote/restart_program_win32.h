#pragma once
// The process port of the restart on the real system. The tray icon belongs to the main
// window, so whoever restarts hands in how to take it away and bring it back.
#include <functional>
#include <utility>

#include "remote/restart_program.h"

class CWin32ProcessPorts : public IProcessPorts {
 public:
  CWin32ProcessPorts(std::function<void()> removeTrayIcon, std::function<void()> restoreTrayIcon)
      : m_removeTrayIcon(std::move(removeTrayIcon)), m_restoreTrayIcon(std::move(restoreTrayIcon)) {}

  std::string OwnExecutablePath() override;
  bool StartProgram(const std::string& commandLine) override;
  void EndOwnProcess() override;
  void RemoveTrayIcon() override;
  void RestoreTrayIcon() override;

 private:
  std::function<void()> m_removeTrayIcon;
  std::function<void()> m_restoreTrayIcon;
};
