#include "alerts/vendor_service.h"

#include "alerts/service_status.h"

void CVendorService::Start(void (CServiceClient::*request)()) {
  CServiceClient* client = &m_client;
  m_threads.Start([client, request] {
    // A failed request ends its thread quietly; the lock guard has already let go.
    try {
      (client->*request)();
    } catch (...) {
    }
  });
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
  Start(&CServiceClient::Heartbeat);
  Start(&CServiceClient::PollSmsCount);
}

void CVendorService::StartRemotePoll() { Start(&CServiceClient::PollRemoteCommands); }

CStatusFigures CVendorService::ReadFigures() {
  CStatusLockGuard hold(m_lock);
  return CStatusFigures{g_strSmsCount, g_strMailDays, g_strClockSkew};
}

std::vector<std::string> CVendorService::ReadSoftList() {
  CStatusLockGuard hold(m_lock);
  return g_saSoftList;
}
