#include "logonguard/guard_core.h"

#include <cstdlib>

#include "common/clock.h"
#include "config/ini_access.h"
#include "config/profile_store.h"
#include "ipblock/flood_blocking.h"

namespace {

const char* const kRecordKeys[kEventChannelCount] = {"securityrecord", "applicationrecord", "remotedesktoprecord"};
const char* const kChannelNames[kEventChannelCount] = {"安全日志", "应用程序日志", "远程桌面日志"};
const char kReasonHead[] = "被Tavrick屏蔽，原因:登录失败次数过多(";
const char kReasonTail[] = ")";
const char kMoreHead[] = "等";
const char kMoreTail[] = "个";

const char kSaved[] = "保存完毕!";
const char kSaveFailed[] = "保存失败,配置文件无法写入!";
const char kBadThreshold[] = "失败次数必须在2到100之间!";
const char kBadPeriod[] = "统计时间必须在1到1440分钟之间!";
const char kBadDuration[] = "请选择屏蔽时间!";
const char kBadFolder[] = "FTP日志文件夹必须是完整的路径(如C:\\inetpub\\logs\\LogFiles)!";
const char kSwitchedOff[] = "未开启";
const char kStarting[] = "正在启动";
const char kDroppedHead[] = "登录防护:事件太多,已丢弃";
const char kDroppedTail[] = "条";
const char kHeldHead[] = "登录防护:事件太多,";
const char kHeldMiddle[] = "暂缓读取,稍后从记录";
const char kHeldTail[] = "之后再读";
const char kNoAddressHead[] = ",无地址失败";
const char kNoAddressTail[] = "次";
// Short: the state is one line, and the count before it must stay in view.
const char kRemoteDesktopMissing[] = "(无远程桌面日志)";

const char* RecordKey(int channel) { return kRecordKeys[channel]; }

uint64_t ReadRecord(const std::string& text) {
  if (text.empty() || text.size() > 19) return 0;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

}  // namespace

const char* EventChannelName(EEventChannel channel) {
  const int c = static_cast<int>(channel);
  return c >= 0 && c < kEventChannelCount ? kChannelNames[c] : "";
}

const char* LogonSourceReason(ELogonSource source) {
  switch (source) {
    case ELogonSource::kRemoteDesktop: return "远程桌面";
    case ELogonSource::kWindowsNetwork: return "网络登录";
    case ELogonSource::kSqlServer: return "SQL Server";
    case ELogonSource::kFtp: return "FTP";
  }
  return "";
}

std::string LogonBlockAlert(const std::vector<std::string>& addresses, size_t more, ELogonSource source) {
  std::string text = kBlockAlertPrefix;
  size_t named = 0;
  for (const std::string& address : addresses) {
    if (named == kMaxAlertAddresses) break;
    text += address + ",";
    ++named;
  }
  more += addresses.size() - named;
  if (more > 0) text += kMoreHead + std::to_string(more) + kMoreTail;
  return text + kReasonHead + LogonSourceReason(source) + kReasonTail;
}

EGuardSource GuardSourceOf(ELogonSource source) {
  switch (source) {
    case ELogonSource::kSqlServer: return EGuardSource::kSqlServer;
    case ELogonSource::kFtp: return EGuardSource::kFtp;
    default: return EGuardSource::kEventLog;
  }
}

CLogonGuardCore::CLogonGuardCore(CGuardPorts ports, std::shared_ptr<CGuardInbox> inbox)
    : m_ports(std::move(ports)), m_inbox(std::move(inbox)), m_policy(*m_ports.pClock, *this) {
  m_policy.SetLimits(m_settings.Limits());
  m_tLastAlert = m_ports.pClock->Now() - kAlertSpacingSeconds - 1;
}

void CLogonGuardCore::Load() {
  IProfileStore& store = *m_ports.pStore;
  m_settings = ReadLogonGuardSettings(
      [&](const std::string& key) { return ReadIni(store, kConfigFile, kLogonGuardSection, key); });
  m_policy.SetLimits(m_settings.Limits());
  for (int c = 0; c < kEventChannelCount; ++c) {
    m_position[c] = m_saved[c] = ReadRecord(ReadIni(store, kConfigFile, kLogonGuardSection, RecordKey(c)));
    m_inbox->StartChannel(static_cast<EEventChannel>(c), m_position[c]);
  }
  m_tPositionsSaved = m_ports.pClock->Now();
}

bool CLogonGuardCore::Save(const CLogonGuardSettings& settings, std::string& text) {
  // The values as the next load would read them: anything the load would replace is refused.
  const auto formatted = FormatLogonGuardSettings(settings);
  const CLogonGuardSettings read = ReadLogonGuardSettings([&](const std::string& key) {
    for (const auto& pair : formatted)
      if (pair.first == key) return pair.second;
    return std::string();
  });
  if (read.nThreshold != settings.nThreshold) text = kBadThreshold;
  else if (read.nPeriodMinutes != settings.nPeriodMinutes) text = kBadPeriod;
  else if (read.strDuration != settings.strDuration) text = kBadDuration;
  else if (read.strFtpLogFolder != settings.strFtpLogFolder) text = kBadFolder;
  else text.clear();
  if (!text.empty()) return false;
  bool written = true;
  for (const auto& pair : formatted)
    written = WriteIni(*m_ports.pStore, kConfigFile, kLogonGuardSection, pair.first, pair.second) != 0 && written;
  // Applied even when the file refused a write: the guard runs as the window shows it.
  m_settings = read;
  m_policy.SetLimits(m_settings.Limits());
  text = written ? kSaved : kSaveFailed;
  return written;
}

bool CLogonGuardCore::SourceOn(EGuardSource source) const {
  if (!m_settings.bEnabled) return false;
  switch (source) {
    case EGuardSource::kEventLog: return m_settings.bEventLog;
    case EGuardSource::kSqlServer: return m_settings.bSqlServer;
    case EGuardSource::kFtp: return m_settings.bFtp;
  }
  return false;
}

void CLogonGuardCore::Drain() {
  const std::vector<CLogonEvent> events = m_inbox->Take(kMaxEventsPerDrain);
  for (const CLogonEvent& event : events) {
    // A channel's records arrive in order: the last one taken is the position (a cleared log
    // may number its records from 1 again).
    const int channel = static_cast<int>(event.eChannel);
    if (channel >= 0 && channel < kEventChannelCount && event.nRecordId > 0) m_position[channel] = event.nRecordId;
    // A source switched off in the window while its events were waiting: they count for nothing.
    if (!SourceOn(GuardSourceOf(event.eSource))) continue;
    // Never dropped unseen: the window shows how many failures named no address.
    if (event.bNoAddress && event.eOutcome == ELogonOutcome::kFailure) ++m_nNoAddress;
    m_policy.OnEvent(event);
  }
  const int64_t now = m_ports.pClock->Now();
  SendAlerts(now);
  LogSourceChanges();
  SavePositions(false);
}

bool CLogonGuardCore::RequestBlock(const std::string& ipv4, ELogonSource source) {
  if (!m_settings.bBlockInternal && m_ports.internal && m_ports.internal(ipv4)) {
    m_lastRefusal = EBlockRefusal::kInternal;
    return false;
  }
  const BlockIpOutcome outcome = m_ports.block(ipv4, m_settings.strDuration);
  m_lastRefusal = outcome == BlockIpOutcome::kAdded || outcome == BlockIpOutcome::kDuplicate ? EBlockRefusal::kNone
                  : m_ports.refusal ? m_ports.refusal(ipv4, outcome)
                                    : EBlockRefusal::kNone;
  if (outcome == BlockIpOutcome::kAdded) {
    // A message names a bounded number of addresses however many were blocked since the last.
    CPendingAlert& pending = m_pending[static_cast<int>(source)];
    if (pending.addresses.size() < kMaxAlertAddresses) pending.addresses.push_back(ipv4);
    else ++pending.nMore;
  }
  return outcome == BlockIpOutcome::kAdded || outcome == BlockIpOutcome::kDuplicate;
}

void CLogonGuardCore::SendAlerts(int64_t now) {
  if (!m_ports.alertsOn || !m_ports.alertsOn()) {
    // Switched off: nothing piles up to go out in one burst when it comes back on.
    for (CPendingAlert& pending : m_pending) pending.Clear();
    return;
  }
  if (now - m_tLastAlert <= kAlertSpacingSeconds) return;  // kept until the spacing has passed
  bool sent = false;
  for (int s = 0; s < kLogonSourceCount; ++s) {
    if (m_pending[s].Empty()) continue;
    m_ports.alert(LogonBlockAlert(m_pending[s].addresses, m_pending[s].nMore, static_cast<ELogonSource>(s)));
    m_pending[s].Clear();
    sent = true;
  }
  if (sent) m_tLastAlert = now;
}

void CLogonGuardCore::LogSourceChanges() {
  if (!m_ports.log) return;
  for (int s = 0; s <= kGuardSourceCount; ++s) {
    const CSourceState state =
        s < kGuardSourceCount ? m_inbox->State(static_cast<EGuardSource>(s)) : m_inbox->RemoteDesktopState();
    if (state.nChanges == m_loggedChange[s]) continue;
    m_loggedChange[s] = state.nChanges;
    if (state.bReported && !state.bAvailable) m_ports.log(state.strText);
  }
  for (int c = 0; c < kEventChannelCount; ++c) {
    const CChannelState state = m_inbox->Channel(static_cast<EEventChannel>(c));
    if (state.nHolds == m_holdsLogged[c]) continue;
    m_holdsLogged[c] = state.nHolds;
    m_ports.log(kHeldHead + std::string(kChannelNames[c]) + kHeldMiddle + std::to_string(state.nLastQueued) +
                kHeldTail);
  }
  const uint64_t dropped = m_inbox->Dropped();
  if (dropped != m_nDroppedLogged) {
    m_nDroppedLogged = dropped;
    m_ports.log(kDroppedHead + std::to_string(dropped) + kDroppedTail);
  }
}

void CLogonGuardCore::SavePositions(bool now) {
  const int64_t t = m_ports.pClock->Now();
  if (!now && t - m_tPositionsSaved < kPositionSaveSeconds) return;
  m_tPositionsSaved = t;
  for (int c = 0; c < kEventChannelCount; ++c) {
    if (m_position[c] == m_saved[c]) continue;
    if (WriteIni(*m_ports.pStore, kConfigFile, kLogonGuardSection, RecordKey(c), std::to_string(m_position[c])) != 0)
      m_saved[c] = m_position[c];
  }
}

uint64_t CLogonGuardCore::ResumeAfter(EEventChannel channel) { return m_inbox->Channel(channel).nLastQueued; }

bool CLogonGuardCore::ResubscribeDue(EEventChannel channel, uint64_t& afterRecord) {
  const int c = static_cast<int>(channel);
  if (c < 0 || c >= kEventChannelCount) return false;
  const CChannelState state = m_inbox->Channel(channel);
  const int64_t now = m_ports.pClock->Now();
  bool due = false;
  if (state.bFailed) {
    // A cleared log or a restarted event log service ends a subscription: it is made again
    // after a pause, from the last record queued.
    if (m_tFailureSeen[c] == 0) m_tFailureSeen[c] = now;
    due = now - m_tFailureSeen[c] >= kResubscribeSeconds;
  } else {
    m_tFailureSeen[c] = 0;
    due = state.bHeld && m_inbox->Room() >= kResumeRoom;
  }
  if (!due) return false;
  m_tFailureSeen[c] = 0;
  afterRecord = state.nLastQueued;
  return true;
}

std::vector<CFailureRow> CLogonGuardCore::Rows() {
  std::vector<CFailureRow> rows = m_policy.Rows();
  // Blocked means blocked now: an entry that expired or was released by hand is no longer.
  if (m_ports.blockedNow)
    for (CFailureRow& row : rows) row.bBlocked = !row.bIpv6 && m_ports.blockedNow(row.strAddress);
  return rows;
}

CGuardSourceStatus CLogonGuardCore::Source(EGuardSource source) {
  CGuardSourceStatus status;
  status.bOn = SourceOn(source);
  if (!status.bOn) {
    status.strText = kSwitchedOff;
    return status;
  }
  const CSourceState state = m_inbox->State(source);
  status.bAvailable = state.bReported && state.bAvailable;
  status.strText = state.bReported ? state.strText : kStarting;
  if (source == EGuardSource::kEventLog) {
    status.nNoAddressFailures = m_nNoAddress;
    if (m_nNoAddress > 0) status.strText += kNoAddressHead + std::to_string(m_nNoAddress) + kNoAddressTail;
    const CSourceState rdp = m_inbox->RemoteDesktopState();
    if (rdp.bReported && !rdp.bAvailable) status.strText += kRemoteDesktopMissing;
  }
  return status;
}
