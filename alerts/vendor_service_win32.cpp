#include "alerts/vendor_service_win32.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "alerts/alert_outbox.h"
#include "alerts/machine_id_win32.h"
#include "alerts/service_host.h"
#include "alerts/service_status.h"
#include "alerts/status_mutex_win32.h"
#include "alerts/wininet_http_win32.h"
#include "common/clock.h"
#include "common/crt_text.h"
#include "common/process_state.h"
#include "config/config_keeper.h"
#include "config/daily_log_win32.h"
#include "config/settings.h"

namespace {

// One line per alert that failed, in .\log\alert<date>.txt.
void LogAlertFailure(const std::string& text) {
  char stamp[32] = {};
  const std::time_t now = std::time(nullptr);
  if (const std::tm* local = std::localtime(&now)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", local);
  CWin32LogFileSystem files;
  AppendLog(files, stamp + text + "\r\n", kLogFolder, "alert");
}

// A configured host passed over, in the day's configuration log.
void LogHostRefusal(const std::string& line) {
  if (line.empty()) return;
  CWin32LogFileSystem files;
  AppendLog(files, LogClock(files.LocalNow()) + line + "\r\n", kLogFolder, kConfigLogPrefix);
}

CServiceHost ChosenHost(const std::string& configured) {
  const CServiceHostChoice choice = ChooseServiceHost(std::getenv(kServiceHostVariable), configured);
  LogHostRefusal(choice.strRefusal);
  return choice.host;
}

bool ResolveName(const std::string& name, uint32_t& ip) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  const hostent* entry = gethostbyname(name.c_str());
  const bool found = entry && entry->h_addrtype == AF_INET && entry->h_addr_list && entry->h_addr_list[0];
  if (found) std::memcpy(&ip, entry->h_addr_list[0], sizeof ip);
  WSACleanup();
  return found;
}

// Beside the program (its current folder), as the configuration.
const char kWaitingAlertsFile[] = "alerts.waiting";

bool ReadWholeFile(const char* path, std::string& text) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char piece[4096];
  DWORD read = 0;
  while (text.size() < (1u << 20) && ReadFile(file, piece, sizeof piece, &read, nullptr) && read > 0) text.append(piece, read);
  CloseHandle(file);
  return true;
}

CAlertOutbox::CPorts OutboxPorts(IAlertChannels& channels, IThreadStarter& threads, IClock& clock) {
  CAlertOutbox::CPorts ports;
  ports.pChannels = &channels;
  ports.pThreads = &threads;
  ports.pClock = &clock;
  ports.pauseSeconds = [](int seconds) { Sleep(static_cast<DWORD>(seconds) * 1000); };
  ports.log = LogAlertFailure;
  ports.title = [] { return g_strAlertTitle; };
  return ports;
}

struct CVendorRuntime {
  CVendorRuntime(const CSettings& settings, const CServiceHost& hostIn)
      : host(hostIn),
        client(http, clock, lock, settings, host.BaseUrl()),
        service(client, threads, lock),
        outbox(OutboxPorts(client, threads, clock)) {}
  CServiceHost host;  // read and changed on the user-interface thread only
  CWinInetHttp http;
  CSystemClock clock;
  CWin32StatusLock lock;
  CWin32Threads threads;
  CServiceClient client;
  CVendorService service;
  CAlertOutbox outbox;
};

std::unique_ptr<CVendorRuntime> g_pVendor;

}  // namespace

void VendorServiceInit(const CSettings& settings, const std::string& firstLocalIp) {
  CreateStatusMutex();
  g_pVendor = std::make_unique<CVendorRuntime>(settings, ChosenHost(settings.strServiceHost));
  g_strMachineId = ReadMachineId(firstLocalIp);
  g_strAlertTitle = MakeAlertTitle(firstLocalIp);
  // What the program before this one left waiting, read once.
  std::string waiting;
  if (ReadWholeFile(kWaitingAlertsFile, waiting)) {
    DeleteFileA(kWaitingAlertsFile);
    g_pVendor->outbox.Restore(waiting);
  }
}

void SaveWaitingAlerts() {
  if (!g_pVendor) return;
  const std::string text = g_pVendor->outbox.WaitingText();
  if (text.empty()) return;
  HANDLE file = CreateFileA(kWaitingAlertsFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  FlushFileBuffers(file);
  CloseHandle(file);
}

bool ResolveServiceIp(uint32_t& ip) {
  const std::string name = (g_pVendor ? g_pVendor->host : ServiceHostFromEnvironment()).strName;
  ip = ServiceHostAddress(name, ResolveName);
  return ip != kUnresolvedServiceIp;
}

void VendorServiceHostChanged(const std::string& configured) {
  if (!g_pVendor) return;
  g_pVendor->host = ChosenHost(configured);
  g_pVendor->client.SetBaseUrl(g_pVendor->host.BaseUrl());
  // The old host's address is blockable from now on; the new one's is spared once it resolves.
  uint32_t ip = 0;
  ResolveServiceIp(ip);
  g_dwServiceIp = ip;
}

void VendorServiceStartupPolls() {
  if (g_pVendor) g_pVendor->service.OnStartup();
}

bool VendorServiceTimer0(CStatusFigures& figures) { return g_pVendor && g_pVendor->service.TryReadFigures(figures); }

void VendorServiceTimer1() {
  if (g_pVendor) g_pVendor->service.OnTimer1();
}

void VendorServiceTimer3() {
  if (g_pVendor) g_pVendor->service.OnTimer3();
}

void VendorServiceTimer4() {
  if (g_pVendor) g_pVendor->service.OnTimer4();
}

bool VendorSoftList(std::vector<std::string>& list) { return g_pVendor && g_pVendor->service.TryReadSoftList(list); }

void VendorServiceRemotePoll() {
  if (g_pVendor) g_pVendor->service.StartRemotePoll();
}

void DispatchAlert(const std::string& message) {
  if (!g_pVendor) return;
  const CServiceContact contact = g_pVendor->client.Contact();  // the settings now, on the caller's thread
  g_pVendor->outbox.Send(CAlert{contact.strEmail, contact.strPhone, message, message});
}

void SendAlert(const CAlert& alert) {
  if (g_pVendor) g_pVendor->outbox.Send(alert);
}

std::string ServiceUrl(const char* path) {
  return g_pVendor ? g_pVendor->client.Url(path) : ServiceHostFromEnvironment().BaseUrl() + path;
}
