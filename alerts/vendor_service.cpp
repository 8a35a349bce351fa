#include "alerts/vendor_service.h"

#include "alerts/service_status.h"

// A failed request ends its thread quietly; the lock guard has already let go.
void CVendorService::Run(RequestKind kind, std::function<void(CServiceClient&)> request) {
  CServiceClient* client = &m_client;
  m_slots.Start(kind, [client, request] { request(*client); });
}

void CVendorService::Start(RequestKind kind, void (CServiceClient::*request)()) {
  Run(kind, [request](CServiceClient& client) { (client.*request)(); });
}

void CVendorService::OnStartup() {
  Start(RequestKind::kSmsCount, &CServiceClient::PollSmsCount);
  Start(RequestKind::kMailDays, &CServiceClient::PollMailDays);
  Start(RequestKind::kSoftList, &CServiceClient::PollSoftList);
}

void CVendorService::OnTimer1() {
  Start(RequestKind::kMailDays, &CServiceClient::PollMailDays);
  Start(RequestKind::kSoftList, &CServiceClient::PollSoftList);
}

void CVendorService::OnTimer3() { Start(RequestKind::kClock, &CServiceClient::CheckClock); }

void CVendorService::OnTimer4() {
  const CServiceContact contact = m_client.Contact();  // here, on the caller's thread
  Run(RequestKind::kHeartbeat, [contact](CServiceClient& client) { client.Heartbeat(contact); });
  Start(RequestKind::kSmsCount, &CServiceClient::PollSmsCount);
}

void CVendorService::StartRemotePoll() {
  Run(RequestKind::kRemotePoll, [](CServiceClient& client) { client.PollRemoteCommands(RemoteCommandLock()); });
}

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
