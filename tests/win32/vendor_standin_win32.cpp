#include "vendor_standin_win32.h"

#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <fstream>

namespace {

// A file the fixture's service writes into its data folder.
std::string ServiceFile(const char* folder, const char* name) {
  std::ifstream file(StandInData(folder) + "\\" + name);
  std::string first;
  file >> first;
  return first;
}

}  // namespace

std::string StandInData(const char* folder) {
  char exe[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string dir(exe);
  return dir.substr(0, dir.rfind('\\')) + "\\..\\" + folder;
}

std::string StandInHost(const char* folder) {
  const int port = std::atoi(ServiceFile(folder, "service.port").c_str());
  return port > 0 ? "127.0.0.1:" + std::to_string(port) : std::string();
}

std::string StandInBase(const char* folder) {
  const std::string host = StandInHost(folder);
  return host.empty() ? host : "http://" + host;
}

StandInAnswer StandInAdmin(const std::string& path, const std::string& form, const char* folder) {
  StandInAnswer answer;
  const std::string host = StandInHost(folder);
  if (host.empty()) return answer;
  const INTERNET_PORT port = static_cast<INTERNET_PORT>(std::atoi(host.substr(host.find(':') + 1).c_str()));
  HINTERNET session = InternetOpenA("tavrick-tests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET connection =
      session ? InternetConnectA(session, "127.0.0.1", port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0) : nullptr;
  HINTERNET request = connection ? HttpOpenRequestA(connection, form.empty() ? "GET" : "POST", path.c_str(),
                                                    nullptr, nullptr, nullptr,
                                                    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD, 0)
                                 : nullptr;
  std::string headers = "Authorization: Bearer " + ServiceFile(folder, "admin.password") + "\r\n";
  if (!form.empty()) headers += "Content-Type: application/x-www-form-urlencoded\r\n";
  if (request && HttpSendRequestA(request, headers.c_str(), static_cast<DWORD>(headers.size()),
                                  const_cast<char*>(form.data()), static_cast<DWORD>(form.size()))) {
    DWORD size = sizeof answer.status;
    HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &answer.status, &size, nullptr);
    char chunk[4096];
    DWORD read = 0;
    while (InternetReadFile(request, chunk, sizeof chunk, &read) && read > 0) answer.body.append(chunk, read);
  }
  for (HINTERNET handle : {request, connection, session}) {
    if (handle) InternetCloseHandle(handle);
  }
  return answer;
}
