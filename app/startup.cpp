#include "app/startup.h"

#include <exception>

const char kInstanceMutexName[] = "Global\\tavrick";
const char kInstanceMutexSddl[] = "D:P(A;;GA;;;BA)(A;;GA;;;SY)(A;;0x00100000;;;WD)";
const char kAlreadyRunningText[] = "已经运行一个程序,不能重复运行!";
const char kStartupFailedText[] = "工程异常!";

bool g_bRebootUp = false;

bool InitInstance(const std::string& commandLine, IStartupPorts& ports, int* exitCode) {
  int code = 0;
  try {
    const std::string words = commandLine;
    const bool otherCopy = ports.CreateInstanceMutex(kInstanceMutexName);
    // A self-restart starts while the old copy is still ending: it is not refused, but it
    // holds the name too, so one copy per machine still holds once the old copy is gone.
    if (otherCopy && words != "reboot") {
      ports.CloseInstanceMutex();
      ports.ShowMessage(kAlreadyRunningText);
      if (exitCode) *exitCode = 0;
      return false;
    }
    // Mixed old and new files never run: the updater restores the old build and starts it.
    if (ports.HandInterruptedUpdateToUpdater()) {
      if (exitCode) *exitCode = 0;
      return false;
    }
    if (words == "rebootup") g_bRebootUp = true;
    ports.EnableControlHosting();
    if (!ports.RunMainDialog()) code = kStartupFailedExitCode;
  } catch (const std::exception&) {
    code = kStartupFailedExitCode;
    ports.ShowMessage(kStartupFailedText);
  }
  if (exitCode) *exitCode = code;
  return false;
}
