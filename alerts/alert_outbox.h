#pragma once
// Every alert of the program leaves through this outbox: the caller (a window's timer) hands
// over a copy and goes on at once; one worker thread at a time sends the waiting alerts in
// order, e-mail before SMS. A message that certainly did not reach the service (no stamp, no
// connection, an error status) is tried again, a few times over some minutes; one that may
// have reached it is never sent again. Every failure is logged.
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "alerts/alert_conditions.h"
#include "alerts/service_client.h"
#include "alerts/service_ports.h"

class IClock;

// Seconds after the first, second and third try before the next one: four tries in 7 minutes.
constexpr int kAlertRetrySeconds[] = {60, 120, 240};
constexpr int kAlertTries = 1 + static_cast<int>(sizeof kAlertRetrySeconds / sizeof kAlertRetrySeconds[0]);
// Alerts waiting at once; a further one is logged and dropped.
constexpr size_t kMaxWaitingAlerts = 64;

class CAlertOutbox : public IAlertSender {
 public:
  struct CPorts {
    IAlertChannels* pChannels = nullptr;
    IThreadStarter* pThreads = nullptr;
    IClock* pClock = nullptr;
    std::function<void(int)> pauseSeconds;            // the worker's wait between looks
    std::function<void(const std::string&)> log;      // one line per failure
    std::function<std::string()> title;               // g_strAlertTitle when the alert is handed over
  };
  explicit CAlertOutbox(CPorts ports) : m_ports(std::move(ports)) {}

  // IAlertSender: copies the alert (with the title now) and returns at once.
  void Send(const CAlert& alert) override;
  size_t Waiting();

  // The program ends for a successor: the alerts waiting (for their first try or a retry) as
  // text, one line each with what is left to send and the tries made, for the successor's
  // Restore. The one on its way to the service now is left out: it may arrive, so it is never
  // sent twice.
  std::string WaitingText();
  // Queues the alerts of WaitingText (of the program that ended), due at once; a line that is
  // not such an alert is skipped.
  void Restore(const std::string& text);

 private:
  struct CLetter {
    CAlert alert;
    std::string strTitle;
    bool bMailDone = false, bSmsDone = false;
    int nTries = 0;
    int64_t tDue = 0;
  };
  void Queue(CLetter letter);
  void Work();
  void TryOnce(CLetter& letter);
  void TryChannel(const char* channel, CLetter& letter, bool& done,
                  const std::function<AlertDelivery()>& send);

  CPorts m_ports;
  std::mutex m_lock;
  std::deque<CLetter> m_letters;
  bool m_bWorking = false;
  size_t m_nSending = static_cast<size_t>(-1);  // index of the letter the worker sends now
};
