#include "logonguard/logon_guard_win32.h"

#include "alerts/vendor_service_win32.h"
#include "common/clock.h"
#include "config/config_keeper.h"
#include "config/daily_log.h"
#include "config/daily_log_win32.h"
#include "config/settings.h"
#include "logonguard/guard_blocks.h"
#include "logonguard/server_networks_win32.h"

namespace {

const char kLogHead[] = "登录防护:";

CSystemClock& Clock() {
  static CSystemClock clock;
  return clock;
}

void LogLine(const std::string& text) {
  CWin32LogFileSystem fs;
  AppendLog(fs, LogClock(fs.LocalNow()) + kLogHead + text + "\r\n", kLogFolder, kConfigLogPrefix);
}

CGuardPorts ProgramPorts(IProfileStore& store) {
  CGuardPorts ports;
  ports.pClock = &Clock();
  ports.pStore = &store;
  ports.block = BlockForLogonGuard;
  ports.refusal = GuardRefusal;
  ports.internal = IsInternalForLogonGuard;
  ports.blockedNow = BlockedInTable;
  ports.alertsOn = [] { return g_Settings.ipfilterchk; };
  ports.alert = DispatchAlert;
  ports.log = LogLine;
  return ports;
}

std::unique_ptr<CWin32LogonGuard> g_pProgramGuard;

}  // namespace

CWin32LogonGuard::CWin32LogonGuard()
    : m_inbox(std::make_shared<CGuardInbox>()), m_core(ProgramPorts(m_store), m_inbox) {}

CWin32LogonGuard::~CWin32LogonGuard() { Stop(); }

void CWin32LogonGuard::Start() {
  m_core.Load();
  StartSources();
  // A guard put in place before start-up (a test build's recording stand-in) keeps the window.
  if (!TheLogonGuard()) SetTheLogonGuard(this);
}

void CWin32LogonGuard::Stop() {
  if (TheLogonGuard() == this) SetTheLogonGuard(nullptr);
  StopSources();
  m_core.Drain();  // what the sources handed over still counts, and its positions are kept
  m_core.SavePositions(true);
}

void CWin32LogonGuard::Tick() {
  m_core.Drain();
  // A subscription that ended with an error, or was held by a full queue, is made again.
  for (CEventLogSource* source : {m_security.get(), m_remoteDesktop.get(), m_sql.get()}) {
    uint64_t after = 0;
    if (source && m_core.ResubscribeDue(source->Channel(), after)) source->Start(after);
  }
}

std::string CWin32LogonGuard::Save(const CLogonGuardSettings& settings) {
  std::string text;
  const CLogonGuardSettings before = m_core.Settings();
  m_core.Save(settings, text);
  const CLogonGuardSettings& after = m_core.Settings();
  const bool same = before.bEnabled == after.bEnabled && before.bEventLog == after.bEventLog &&
                    before.bSqlServer == after.bSqlServer && before.bFtp == after.bFtp &&
                    before.strFtpLogFolder == after.strFtpLogFolder;
  if (!same) {
    // The sources start again after the last record queued: what waits in the queue counts
    // once, from there, and is not delivered again.
    StopSources();
    m_core.Drain();
    StartSources();
  }
  return text;
}

void CWin32LogonGuard::StartEventLog(std::unique_ptr<CEventLogSource>& source, EEventChannel channel) {
  source.reset(new CEventLogSource(m_inbox, channel));
  source->Start(m_core.ResumeAfter(channel));
}

void CWin32LogonGuard::StartSources() {
  if (m_core.SourceOn(EGuardSource::kEventLog)) {
    // Each its own subscription: a server without remote desktop (or Wine) lacks the second.
    StartEventLog(m_security, EEventChannel::kSecurity);
    StartEventLog(m_remoteDesktop, EEventChannel::kRemoteDesktop);
  }
  if (m_core.SourceOn(EGuardSource::kSqlServer)) StartEventLog(m_sql, EEventChannel::kApplication);
  if (m_core.SourceOn(EGuardSource::kFtp)) {
    m_ftp.reset(new CFtpLogSource(m_inbox, m_core.Settings().strFtpLogFolder));
    if (!m_ftp->Start()) m_inbox->Report(EGuardSource::kFtp, false, "无法启动FTP日志监视");
  }
}

void CWin32LogonGuard::StopSources() {
  m_security.reset();
  m_remoteDesktop.reset();
  m_sql.reset();
  m_ftp.reset();
  for (EGuardSource source : {EGuardSource::kEventLog, EGuardSource::kSqlServer, EGuardSource::kFtp})
    m_inbox->Forget(source);
}

void StartProgramLogonGuard() {
  StopProgramLogonGuard();
  g_pProgramGuard.reset(new CWin32LogonGuard());
  g_pProgramGuard->Start();
}

void TickProgramLogonGuard() {
  if (g_pProgramGuard) g_pProgramGuard->Tick();
}

void StopProgramLogonGuard() {
  if (!g_pProgramGuard) return;
  g_pProgramGuard->Stop();
  g_pProgramGuard.reset();
}
