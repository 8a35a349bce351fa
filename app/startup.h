#pragma once
// Start-up of the process: one copy per machine, the restart words, then the main window.
#include <string>

extern const char kInstanceMutexName[];  // "tavrick"
extern const char kAlreadyRunningText[];  // "已经运行一个程序,不能重复运行!"
extern const char kStartupFailedText[];   // "工程异常!"

// What start-up needs from the system.
class IStartupPorts {
 public:
  virtual ~IStartupPorts() = default;
  // Creates (or opens) the machine-wide mutex and keeps the handle for the life of the
  // process; true only when the name was already taken (any other failure counts as "no
  // other copy").
  virtual bool CreateInstanceMutex() = 0;
  // Lets the handle go again: a refused start, before it says so.
  virtual void CloseInstanceMutex() = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  virtual void EnableControlHosting() = 0;
  virtual void RunMainDialog() = 0;  // modal, for the whole working life of the program
};

// Set by the command word "rebootup"; the main window clears it with the first automatic start.
extern bool g_bRebootUp;

// The instance initialisation; always false, so the process ends after it.
bool InitInstance(const std::string& commandLine, IStartupPorts& ports);
