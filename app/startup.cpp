#include "app/startup.h"

#include <exception>

const char kInstanceMutexName[] = "tavrick";
const char kAlreadyRunningText[] = "已经运行一个程序,不能重复运行!";
const char kStartupFailedText[] = "工程异常!";

bool g_bRebootUp = false;

bool InitInstance(const std::string& commandLine, IStartupPorts& ports) {
  try {
    const std::string words = commandLine;
    const bool otherCopy = ports.CreateInstanceMutex();
    // A self-restart starts while the old copy is still ending: it is not refused, but it
    // holds the name too, so one copy per machine still holds once the old copy is gone.
    if (otherCopy && words != "reboot") {
      ports.CloseInstanceMutex();
      ports.ShowMessage(kAlreadyRunningText);
      return false;
    }
    if (words == "rebootup") g_bRebootUp = true;
    ports.EnableControlHosting();
    ports.RunMainDialog();
  } catch (const std::exception&) {
    ports.ShowMessage(kStartupFailedText);
  }
  return false;
}
