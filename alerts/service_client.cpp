#include "alerts/service_client.h"

#include <cstdint>
#include <utility>

#include "alerts/service_answers.h"
#include "alerts/service_host.h"
#include "alerts/service_status.h"
#include "alerts/stamp_coder.h"
#include "common/clock.h"
#include "config/settings.h"

namespace {
// Every value is escaped so that no value can end its parameter or start another.
std::string Param(const char* prefix, const std::string& value) { return prefix + EscapeQueryValue(value); }
}  // namespace

CServiceClient::CServiceClient(IHttpPort& http, IClock& clock, IStatusLock& lock, const CSettings& settings,
                               std::string baseUrl)
    : m_http(http), m_clock(clock), m_lock(lock), m_settings(settings), m_strBaseUrl(std::move(baseUrl)) {}

std::string CServiceClient::Rad() const {
  return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(m_clock.Now())));
}

std::string CServiceClient::BaseUrl() const {
  std::lock_guard<std::mutex> hold(m_urlLock);
  return m_strBaseUrl;
}

void CServiceClient::SetBaseUrl(const std::string& baseUrl) {
  std::lock_guard<std::mutex> hold(m_urlLock);
  m_strBaseUrl = baseUrl;
}

std::string CServiceClient::GetStamp() { return GetStamp(Rad()); }

std::string CServiceClient::GetStamp(const std::string& rad) { return GetStampAt(BaseUrl(), rad); }

// A stamp counts only at the service that gave the time: the signed request goes to that base.
std::string CServiceClient::GetStampAt(const std::string& base, const std::string& rad) {
  const std::string answer = TrimAnswer(m_http.FetchUrl(base + service_path::kTimeStamp + Param("?rad=", rad)));
  if (answer.size() > kMaxTimeTextBytes || !IsUsableTimeStamp(answer)) return std::string();
  return CStampCoder::Encode(answer);
}

AlertDelivery CServiceClient::SendSigned(const char* path, const std::string& parameters) {
  const std::string base = BaseUrl();
  const std::string stamp = GetStampAt(base, Rad());
  if (stamp.empty()) return AlertDelivery::kNotSent;
  switch (m_http.Fetch(base + path + Param("?stamp=", stamp) + parameters).outcome) {
    case HttpOutcome::kAnswered: return AlertDelivery::kDelivered;
    case HttpOutcome::kRefused:
    case HttpOutcome::kNotSent: return AlertDelivery::kNotSent;
    case HttpOutcome::kNoAnswer: break;
  }
  return AlertDelivery::kUncertain;
}

AlertDelivery CServiceClient::SendMail(const std::string& address, const std::string& title,
                                       const std::string& message) {
  return SendSigned(service_path::kSendMail, Param("&toemil=", address) + Param("&title=", title) +
                                                 Param("&message=", message) + Param("&mac=", g_strMachineId));
}

AlertDelivery CServiceClient::SendSms(const std::string& phone, const std::string& title, const std::string& message) {
  return SendSigned(service_path::kSendSms, Param("&phone=", phone) + Param("&message=", title + "_" + message) +
                                                Param("&mac=", g_strMachineId));
}

CServiceContact CServiceClient::Contact() const {
  return CServiceContact{m_settings.strPhone, m_settings.strEmail, m_settings.downchk};
}

void CServiceClient::Heartbeat(const CServiceContact& contact) {
  const std::string rad = Rad();
  CStatusLockGuard hold(m_lock);
  const std::string base = BaseUrl();
  const std::string stamp = GetStampAt(base, rad);
  if (stamp.empty()) return;
  m_http.FetchUrl(base + service_path::kHeartbeat + Param("?stamp=", stamp) + Param("&rad=", rad) +
                  Param("&mac=", g_strMachineId) + Param("&v=", g_strVersion) + Param("&phone=", contact.strPhone) +
                  Param("&mail=", contact.strEmail) + Param("&isdownmsg=", contact.bOfflineAlert ? "1" : "0"));
}

void CServiceClient::PollFigure(const char* path, std::string& figure) {
  const std::string rad = Rad();
  CStatusLockGuard hold(m_lock);
  const std::string base = BaseUrl();
  const std::string stamp = GetStampAt(base, rad);
  if (stamp.empty()) return;
  const std::string answer =
      TrimAnswer(m_http.FetchUrl(base + path + Param("?stamp=", stamp) + Param("&mac=", g_strMachineId)));
  if (IsValidFigure(answer)) figure = answer;
}

void CServiceClient::PollSmsCount() { PollFigure(service_path::kSmsCount, g_strSmsCount); }

void CServiceClient::PollMailDays() { PollFigure(service_path::kMailDays, g_strMailDays); }

void CServiceClient::CheckClock() {
  CStatusLockGuard hold(m_lock);
  const std::string answer = TrimAnswer(m_http.FetchUrl(Url(service_path::kTimeStamp)));
  if (answer.empty()) return;
  const std::string skew = ClockSkewMinutes(static_cast<int32_t>(static_cast<uint32_t>(m_clock.Now())), answer);
  if (!skew.empty()) g_strClockSkew = skew;
}

void CServiceClient::PollSoftList() {
  CStatusLockGuard hold(m_lock);
  const std::string answer = TrimAnswer(m_http.FetchUrl(Url(service_path::kSoftList)));
  if (!answer.empty()) SplitAnswer(answer, g_saSoftList);
}

void CServiceClient::PollRemoteCommands(ILockPort& listLock) {
  const std::string rad = Rad();
  const std::string answer =
      TrimAnswer(m_http.FetchUrl(Url(service_path::kRemoteCode) + Param("?mac=", g_strMachineId) + Param("&rad=", rad)));
  if (answer.empty()) return;
  CLockPortGuard hold(listLock);
  SplitAnswer(answer, g_saRemoteCmd);
}
