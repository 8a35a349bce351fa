#pragma once
// The program's logon guard: the core with its Win32 sources (the Security, remote desktop and
// Application event logs, the IIS FTP logs) and its ports into the program (BlockIp, the alert outbox, the
// configuration file, the configuration log). Made when protection starts, whether or not it is
// switched on, so its window can switch it on; its sources run only while their switches are on.
#include <memory>

#include "config/profile_store_win32.h"
#include "logonguard/event_log_source_win32.h"
#include "logonguard/ftp_log_source_win32.h"
#include "logonguard/guard_core.h"
#include "logonguard/logon_guard.h"

class CWin32LogonGuard : public ILogonGuard {
 public:
  CWin32LogonGuard();
  ~CWin32LogonGuard() override;
  CWin32LogonGuard(const CWin32LogonGuard&) = delete;
  CWin32LogonGuard& operator=(const CWin32LogonGuard&) = delete;

  void Start();  // reads the section, starts the sources that are on
  void Stop();   // stops the sources, keeps the event log positions
  void Tick();   // once a second on the user-interface thread

  CLogonGuardSettings Settings() const override { return m_core.Settings(); }
  std::string Save(const CLogonGuardSettings& settings) override;
  std::vector<CFailureRow> Rows() override { return m_core.Rows(); }
  CGuardSourceStatus Source(EGuardSource source) override { return m_core.Source(source); }

 private:
  void StartSources();
  void StopSources();
  void StartEventLog(std::unique_ptr<CEventLogSource>& source, EEventChannel channel);

  CWin32ProfileStore m_store;
  std::shared_ptr<CGuardInbox> m_inbox;
  CLogonGuardCore m_core;
  std::unique_ptr<CEventLogSource> m_security, m_remoteDesktop, m_sql;
  std::unique_ptr<CFtpLogSource> m_ftp;
};

// The one guard of the program, driven by the main window: made and started with protection,
// drained by its one-second timer, stopped and dropped with protection.
void StartProgramLogonGuard();
void TickProgramLogonGuard();
void StopProgramLogonGuard();
