#pragma once
// The logon guard as the program runs it, seen from its window: the settings, the state of each
// source, and the table of recent failing addresses. The program's guard feeds the sources'
// events to the policy on the user-interface thread (blocks go through BlockIp there, as the
// flood check's do); the window only reads and saves through this interface.
#include <cstdint>
#include <string>
#include <vector>

#include "logonguard/failure_policy.h"
#include "logonguard/guard_settings.h"

// The window's three source switches.
enum class EGuardSource { kEventLog, kSqlServer, kFtp };
constexpr int kGuardSourceCount = 3;

struct CGuardSourceStatus {
  bool bOn = false;         // switched on in the settings (and the guard as a whole is on)
  bool bAvailable = false;  // being read now
  std::string strText;      // what the window shows (GBK): watching, or why it cannot be read
  uint64_t nNoAddressFailures = 0;  // event log: failures without an address ("无地址"), in strText
};

class ILogonGuard {
 public:
  virtual ~ILogonGuard() = default;
  virtual CLogonGuardSettings Settings() const = 0;
  // Writes the "[logonguard]" section and applies it at once; returns the text the window shows
  // (saved, or why the settings were refused and nothing was written).
  virtual std::string Save(const CLogonGuardSettings& settings) = 0;
  virtual std::vector<CFailureRow> Rows() = 0;
  virtual CGuardSourceStatus Source(EGuardSource source) = 0;
};

// The program's guard; null until the main window made it (and after it went).
ILogonGuard* TheLogonGuard();
void SetTheLogonGuard(ILogonGuard* guard);
