#pragma once
// What the main window's timers and start-up ask of the vendor service: each duty starts
// its requests on threads of their own, at most one of each kind at a time (a duty whose
// kind is still busy is skipped), and a failing request never keeps the lock.
#include <string>

#include "alerts/request_slots.h"
#include "alerts/service_client.h"
#include "alerts/service_ports.h"

// The figures the main window's status timer shows, read under the status lock.
struct CStatusFigures {
  std::string strSmsCount;
  std::string strMailDays;
  std::string strClockSkew;
};

class CVendorService {
 public:
  CVendorService(CServiceClient& client, IThreadStarter& threads, IStatusLock& lock)
      : m_client(client), m_slots(threads), m_lock(lock) {}

  void OnStartup();      // SMS balance, e-mail days and related-software list, once
  void OnTimer1();       // 600 s: e-mail days and related-software list
  void OnTimer3();       // 86,400 s: clock check
  void OnTimer4();       // 60 s: heartbeat and SMS balance
  void StartRemotePoll();  // one remote command poll (it needs no status lock)
  // For the user-interface thread: false, and nothing read, while a request holds the lock.
  bool TryReadFigures(CStatusFigures& figures);        // timer 0 (20 s)
  bool TryReadSoftList(std::vector<std::string>& list);  // the related-software box (30 s)

 private:
  void Start(RequestKind kind, void (CServiceClient::*request)());
  void Run(RequestKind kind, std::function<void(CServiceClient&)> request);

  CServiceClient& m_client;
  CRequestSlots m_slots;
  IStatusLock& m_lock;
};
