#pragma once
// The vendor service client: every request address byte for byte, the signing step, and
// how each answer lands in the status figures (alerts/service_status.h).
#include <mutex>
#include <string>

#include "alerts/service_ports.h"

class IClock;
struct CSettings;

// What became of one alert message on one channel.
enum class AlertDelivery {
  kDelivered,  // the service took it
  kNotSent,    // it certainly did not reach the service (no stamp, no connection, refused)
  kUncertain,  // it may have reached the service: never sent again
};

// The two alert channels of the service (CServiceClient; fakes in tests).
class IAlertChannels {
 public:
  virtual ~IAlertChannels() = default;
  virtual AlertDelivery SendMail(const std::string& address, const std::string& title, const std::string& message) = 0;
  virtual AlertDelivery SendSms(const std::string& phone, const std::string& title, const std::string& message) = 0;
};

// The longest time text the service may answer; a longer one gives no stamp.
constexpr size_t kMaxTimeTextBytes = 30;

// Where the service is to send the offline alert: copied from the settings on the
// user-interface thread (which alone changes them) when a heartbeat is started, so the
// request thread never reads the live settings.
struct CServiceContact {
  std::string strPhone;
  std::string strEmail;
  bool bOfflineAlert = false;  // downchk
};

class CServiceClient : public IAlertChannels {
 public:
  // baseUrl: "http://host[:port]", the endpoint paths follow it.
  CServiceClient(IHttpPort& http, IClock& clock, IStatusLock& lock, const CSettings& settings,
                 std::string baseUrl);

  std::string FetchUrl(const std::string& url) { return m_http.FetchUrl(url); }
  // The current time's low 32 bits in signed decimal.
  std::string Rad() const;
  // The service's time text raised to the public key; "" when the service gave no usable time
  // (not a positive number, or longer than kMaxTimeTextBytes).
  std::string GetStamp();
  // With a time taken earlier (the background requests take it before waiting for the lock).
  std::string GetStamp(const std::string& rad);

  // On the calling thread, without the status lock; nothing is sent without a stamp. The
  // result says whether the service has the alert, so that the caller tries again only what
  // certainly never reached it.
  AlertDelivery SendMail(const std::string& address, const std::string& title, const std::string& message) override;
  AlertDelivery SendSms(const std::string& phone, const std::string& title, const std::string& message) override;

  // The settings' contact values now; call it on the thread that changes the settings.
  CServiceContact Contact() const;

  // Background requests: each takes the status lock for its whole run.
  void Heartbeat(const CServiceContact& contact);
  void PollSmsCount();
  void PollMailDays();
  void CheckClock();
  void PollSoftList();
  // Without the status lock (it needs no stamp and no figure): the answer lands in
  // g_saRemoteCmd under listLock, which is never held across a request.
  void PollRemoteCommands(ILockPort& listLock);

  // Full address of an endpoint path.
  std::string Url(const char* path) const { return BaseUrl() + path; }
  std::string BaseUrl() const;
  // Another host, from the alert settings window: every request begun after this call goes
  // there; one already running finishes with the address it began with, stamp and all.
  void SetBaseUrl(const std::string& baseUrl);

 private:
  std::string GetStampAt(const std::string& base, const std::string& rad);
  void PollFigure(const char* path, std::string& figure);
  AlertDelivery SendSigned(const char* path, const std::string& parameters);

  IHttpPort& m_http;
  IClock& m_clock;
  IStatusLock& m_lock;
  const CSettings& m_settings;
  mutable std::mutex m_urlLock;  // the base address is read by the request threads
  std::string m_strBaseUrl;
};
