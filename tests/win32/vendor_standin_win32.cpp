#include "vendor_standin_win32.h"

#include <windows.h>

#include <fstream>

std::string StandInHost() {
  char exe[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string dir(exe);
  dir = dir.substr(0, dir.rfind('\\'));
  std::ifstream file(dir + "\\..\\vendor-service\\service.port");
  int port = 0;
  file >> port;
  return port > 0 ? "127.0.0.1:" + std::to_string(port) : std::string();
}

std::string StandInBase() {
  const std::string host = StandInHost();
  return host.empty() ? host : "http://" + host;
}
