#pragma once
// One event log subscription (Security 4625/4624, or Application 18456 from SQL Server): each
// event is rendered as XML, converted to the ANSI code page, read by ReadEventXml and put in
// the guard's queue. It starts after the last record the guard took (a bookmark made from the
// saved record number), so a restart neither misses nor repeats events; without one it takes
// future events only. wevtapi.dll is loaded at run time: where it or a function is missing, or
// the log refuses access, the source reports itself unavailable with the reason, once.
#include <cstdint>
#include <memory>
#include <string>

#include "logonguard/guard_inbox.h"

enum class EEventLogKind { kSecurity, kSqlServer };

class CEventLogSource {
 public:
  CEventLogSource(std::shared_ptr<CGuardInbox> inbox, EEventLogKind kind, uint64_t afterRecord);
  ~CEventLogSource() { Stop(); }
  CEventLogSource(const CEventLogSource&) = delete;
  CEventLogSource& operator=(const CEventLogSource&) = delete;

  bool Start();  // false: unavailable, and the inbox has the reason
  void Stop();

  struct CContext;

 private:
  std::shared_ptr<CContext> m_context;
  void* m_hSubscription = nullptr;
  uint64_t m_nAfterRecord = 0;
};

// Whether a service of this name is installed (SQL Server's instances run as "MSSQLSERVER" and
// "MSSQL$<instance>", the names their events carry as provider).
bool IsInstalledService(const std::string& name);
