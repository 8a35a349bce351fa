#pragma once
// The program's restart of itself: a fresh copy starts with the word "reboot" (which start-up
// lets run beside the ending copy) and this copy ends. Everything it does to processes goes
// through IProcessPorts, so tests never start or end a real process by accident.
#include <functional>
#include <string>

class IProcessPorts {
 public:
  virtual ~IProcessPorts() = default;
  virtual std::string OwnExecutablePath() = 0;  // full path of the running program, "" if unknown
  // Starts a process shown normally, in this process's current folder; true when it runs.
  virtual bool StartProgram(const std::string& commandLine) = 0;
  virtual void EndOwnProcess() = 0;  // exit code 0; does not come back in the real program
  virtual void RemoveTrayIcon() = 0;
  virtual void RestoreTrayIcon() = 0;
  // Runs `end` once the main window's commands allow it (never inside a protection start, stop
  // or exit, never after a confirmed exit), on the window's thread, after the protection state
  // is written; `end` returns false when this copy goes on after all.
  virtual void EndWhenAllowed(std::function<bool()> end) = 0;
};

extern const char kRestartWord[];  // "reboot"

// "\"<folder>\<name>.exe\" reboot" for the program at ownPath; "" when the path has no folder.
std::string RestartCommandLine(const std::string& ownPath);

// Once the commands allow: takes the tray icon away, starts the new copy and ends this one.
// When no copy can be started this copy keeps running (with its icon back). False when the
// program's own path gives no command line (nothing is asked for then).
bool RestartProgram(IProcessPorts& ports);
