#pragma once
// The process port of the restart on the real system. The tray icon belongs to the main
// window, so whoever restarts hands in how to take it away and bring it back.
#include <functional>
#include <utility>

#include "remote/restart_program.h"

// The main window's command guard, which every end of the program for a successor passes
// through (the window sets it at start-up; without it an end runs at once). The end is told
// whether protection must resume and returns false when the program goes on after all;
// `refused` runs instead after a confirmed exit. Window thread only.
using ProgramEndGuard =
    std::function<void(std::function<bool(bool resume)> end, std::function<void()> refused)>;
void SetProgramEndGuard(ProgramEndGuard guard);
void EndProgramForSuccessor(std::function<bool(bool resume)> end, std::function<void()> refused);

class CWin32ProcessPorts : public IProcessPorts {
 public:
  CWin32ProcessPorts(std::function<void()> removeTrayIcon, std::function<void()> restoreTrayIcon)
      : m_removeTrayIcon(std::move(removeTrayIcon)), m_restoreTrayIcon(std::move(restoreTrayIcon)) {}

  std::string OwnExecutablePath() override;
  bool StartProgram(const std::string& commandLine) override;
  void EndOwnProcess() override;
  void RemoveTrayIcon() override;
  void RestoreTrayIcon() override;
  void EndWhenAllowed(std::function<bool()> end) override;

 private:
  std::function<void()> m_removeTrayIcon;
  std::function<void()> m_restoreTrayIcon;
};
