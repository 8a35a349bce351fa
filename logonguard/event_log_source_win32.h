#pragma once
// One event log subscription (Security 4625/4624, Application 18456 from SQL Server, or the
// remote desktop RdpCoreTS/Operational 140): each event is rendered as XML, read by
// ReadEventXmlUtf16 and put in the guard's queue. It starts after the record the guard gives
// (a bookmark made from that record number: the last one queued), so a restart neither misses
// nor repeats events; without one it takes future events only. A full queue holds the channel
// and an error ends the subscription: the guard starts it again (CLogonGuardCore::
// ResubscribeDue). wevtapi.dll is loaded at run time: where it or a function is missing, or the
// log is missing or refuses access, the source reports itself unavailable with the reason, once,
// and the other sources go on.
#include <cstdint>
#include <memory>
#include <string>

#include "logonguard/guard_inbox.h"

class CEventLogSource {
 public:
  CEventLogSource(std::shared_ptr<CGuardInbox> inbox, EEventChannel channel);
  ~CEventLogSource() { Stop(); }
  CEventLogSource(const CEventLogSource&) = delete;
  CEventLogSource& operator=(const CEventLogSource&) = delete;

  // After this record (0: future events only). false: unavailable, and the inbox has the reason.
  bool Start(uint64_t afterRecord);
  void Stop();
  EEventChannel Channel() const;

  struct CContext;

 private:
  std::shared_ptr<CContext> m_context;
  void* m_hSubscription = nullptr;
};

// Whether a service of this name is installed (SQL Server's instances run as "MSSQLSERVER" and
// "MSSQL$<instance>", the names their events carry as provider).
bool IsInstalledService(const std::string& name);
