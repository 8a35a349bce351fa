#include "alerts/vendor_service.h"

#include "alerts/service_status.h"

void CVendorService::Run(std::function<void(CServiceClient&)> request) {
  CServiceClient* client = &m_client;
  m_threads.Start([client, request] {
    // A failed request ends its thread quietly; the lock guard has already let go.
    try {
      request(*client);
    } catch (...) {
    }
  });
}

void CVendorService::Start(void (CServiceClient::*request)()) {
  Run([request](CServiceClient& client) { (client.*request)(); });
}

void CVendorService::OnStartup() {
  Start(&CServiceClient::PollSmsCount);
  Start(&CServiceClient::PollMailDays);
  Start(&CServiceClient::PollSoftList);
}

void CVendorService::OnTimer1() {
  Start(&CServiceClient::PollMailDays);
  Start(&CServiceClient::PollSoftList);
}

void CVendorService::OnTimer3() { Start(&CServiceClient::CheckClock); }

void CVendorService::OnTimer4() {
  const CServiceContact contact = m_client.Contact();  // here, on the caller's thread
  Run([contact](CServiceClient& client) { client.Heartbeat(contact); });
  Start(&CServiceClient::PollSmsCount);
}

void CVendorService::StartRemotePoll() { Start(&CServiceClient::PollRemoteCommands); }

bool CVendorService::TryReadFigures(CStatusFigures& figures) {
  if (!m_lock.TryLock()) return false;
  figures = CStatusFigures{g_strSmsCount, g_strMailDays, g_strClockSkew};
  m_lock.Unlock();
  return true;
}

bool CVendorService::TryReadSoftList(std::vector<std::string>& list) {
  if (!m_lock.TryLock()) return false;
  list = g_saSoftList;
  m_lock.Unlock();
  return true;
}
