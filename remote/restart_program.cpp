#include "remote/restart_program.h"

const char kRestartWord[] = "reboot";

std::string RestartCommandLine(const std::string& ownPath) {
  const size_t slash = ownPath.find_last_of('\\');
  if (slash == std::string::npos || slash + 1 >= ownPath.size()) return "";
  std::string name = ownPath.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  // Quoted: an unquoted path with blanks could start another program on the way.
  return "\"" + ownPath.substr(0, slash) + "\\" + name + ".exe\" " + kRestartWord;
}

bool RestartProgram(IProcessPorts& ports) {
  const std::string commandLine = RestartCommandLine(ports.OwnExecutablePath());
  if (commandLine.empty()) return false;
  IProcessPorts* process = &ports;  // the ports live as long as the program
  ports.EndWhenAllowed([process, commandLine] {
    process->RemoveTrayIcon();
    if (!process->StartProgram(commandLine)) {
      process->RestoreTrayIcon();
      return false;
    }
    process->EndOwnProcess();
    return true;
  });
  return true;
}
