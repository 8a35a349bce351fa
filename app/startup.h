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
  // Creates the machine-wide mutex and keeps it for the life of the process; true only when
  // the name was already taken (any other failure counts as "no other copy").
  virtual bool InstanceMutexAlreadyExists() = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  virtual void EnableControlHosting() = 0;
  virtual void RunMainDialog() = 0;  // modal, for the whole working life of the program
};

extern bool g_bRebootUp;

// The instance initialisation; always false, so the process ends after it.
bool InitInstance(const std::string& commandLine, IStartupPorts& ports);
