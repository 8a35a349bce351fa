#include "app/startup.h"

#include <exception>

const char kInstanceMutexName[] = "Global\\tavrick";
const char kInstanceMutexSddl[] = "D:P(A;;GA;;;BA)(A;;GA;;;SY)(A;;0x00100000;;;WD)";
const char kAlreadyRunningText[] = "已经运行一个程序,不能重复运行!";
const char kStartupFailedText[] = "工程异常!";
const char kServiceCopyWords[] = "rebootup service";

bool g_bRebootUp = false;
bool g_bServiceCopy = false;
bool g_bTookOver = false;

bool InitInstance(const std::string& commandLine, IStartupPorts& ports, int* exitCode) {
  int code = 0;
  try {
    const std::string words = commandLine;
    const bool serviceCopy = words == kServiceCopyWords || ports.StartedByServiceCopy();
    const bool otherCopy = ports.CreateInstanceMutex(kInstanceMutexName);
    // A self-restart starts while the old copy is still ending: it is not refused, but it
    // holds the name too, so one copy per machine still holds once the old copy is gone. So
    // does a copy the boot service's copy hands protection over to; it starts protecting by
    // itself from the carried-over state that copy wrote.
    bool tookOver = false;
    if (otherCopy && words != "reboot") {
      if (serviceCopy) {
        ports.CloseInstanceMutex();
        if (exitCode) *exitCode = kServiceCopyRefusedExitCode;
        return false;
      }
      tookOver = ports.AskServiceCopyToHandOver() && ports.WaitForHandOver(kHandOverWaitSeconds);
      if (!tookOver) {
        ports.CloseInstanceMutex();
        ports.ShowMessage(kAlreadyRunningText);
        if (exitCode) *exitCode = 0;
        return false;
      }
    }
    // Mixed old and new files never run: the updater restores the old build and starts it.
    if (ports.HandInterruptedUpdateToUpdater()) {
      if (exitCode) *exitCode = 0;
      return false;
    }
    if (words == "rebootup" || serviceCopy) g_bRebootUp = true;
    g_bTookOver = tookOver;
    g_bServiceCopy = serviceCopy;
    if (serviceCopy) ports.OfferHandOver();
    ports.EnableControlHosting();
    if (!ports.RunMainDialog()) code = kStartupFailedExitCode;
  } catch (const std::exception&) {
    code = kStartupFailedExitCode;
    ports.ShowMessage(kStartupFailedText);
  }
  if (exitCode) *exitCode = code;
  return false;
}
