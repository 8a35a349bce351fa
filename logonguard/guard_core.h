#pragma once
// The guard as the program runs it, without its Win32 sources: the settings and their save, the
// once-a-second drain of the sources' events into the policy, the block requests (an automatic
// entry of all ports for the configured duration), the block alert with the guard's own reason,
// the per-source status the window shows, and the event log positions kept across restarts.
// Everything here runs on the user-interface thread; only the inbox is shared with the sources.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ipblock/ip_outcomes.h"
#include "logonguard/failure_policy.h"
#include "logonguard/guard_inbox.h"
#include "logonguard/guard_settings.h"
#include "logonguard/logon_guard.h"

class IClock;
class IProfileStore;

// "远程桌面", "网络登录", "SQL Server", "FTP".
const char* LogonSourceReason(ELogonSource source);
// "IP地址：" + each address and "," + "被Tavrick屏蔽，原因:登录失败次数过多(" + reason + ")"; with
// more than kMaxAlertAddresses, the first ones and then "等N个" for the N more.
constexpr size_t kMaxAlertAddresses = 20;
std::string LogonBlockAlert(const std::vector<std::string>& addresses, size_t more, ELogonSource source);
// Which switch of the window a source's events belong to.
EGuardSource GuardSourceOf(ELogonSource source);

// The event log channel names the configuration log and the window use ("安全日志", ...).
const char* EventChannelName(EEventChannel channel);

struct CGuardPorts {
  IClock* pClock = nullptr;
  IProfileStore* pStore = nullptr;
  // An automatic block of every port of the address for the label's time (BlockIp(ip, "0",
  // label, 0) in the program, with its protection checks).
  std::function<BlockIpOutcome(const std::string& ip, const std::string& label)> block;
  // Why block refused (the program: GuardRefusal, the protection reached); unset: not said.
  std::function<EBlockRefusal(const std::string& ip, BlockIpOutcome outcome)> refusal;
  // A private, link-local or shared address, or one of the server's own subnets or its gateway:
  // counted and shown, but blocked only when "blockinternal" is on.
  std::function<bool(const std::string& ip)> internal;
  std::function<bool(const std::string& ip)> blockedNow;  // listed in the blocked table now
  std::function<bool()> alertsOn;                          // the "屏蔽IP地址提醒" switch
  std::function<void(const std::string& message)> alert;   // hands the alert to the sender
  std::function<void(const std::string& line)> log;        // a source's trouble, once per change
};

class CLogonGuardCore : private IBlockPort {
 public:
  static constexpr size_t kMaxEventsPerDrain = 5000;
  static constexpr int64_t kAlertSpacingSeconds = 60;
  static constexpr int64_t kPositionSaveSeconds = 10;
  // A subscription that reported an error is made again after this pause; one held by a full
  // queue once the queue is half empty.
  static constexpr int64_t kResubscribeSeconds = 30;
  static constexpr size_t kResumeRoom = CGuardInbox::kMaxEvents / 2;

  CLogonGuardCore(CGuardPorts ports, std::shared_ptr<CGuardInbox> inbox);

  void Load();  // the "[logonguard]" section and the saved event log positions
  const CLogonGuardSettings& Settings() const { return m_settings; }
  // Writes the section when every value is acceptable and applies it; false with the reason
  // (nothing written) otherwise. text: what the window shows.
  bool Save(const CLogonGuardSettings& settings, std::string& text);

  // Once a second: the waiting events into the policy, then the alerts and the positions.
  void Drain();
  std::vector<CFailureRow> Rows();
  CGuardSourceStatus Source(EGuardSource source);
  // Whether the window's switch for this source is on (and the guard as a whole).
  bool SourceOn(EGuardSource source) const;

  // The last event log record taken into the policy (0: none yet), kept across restarts.
  uint64_t Position(EEventChannel channel) const { return m_position[static_cast<int>(channel)]; }
  void SavePositions(bool now);  // at most every kPositionSaveSeconds unless now
  // Where a subscription of the channel starts: after the last record queued (what is still
  // queued counts once, from the queue), else after the position. 0: with future events.
  uint64_t ResumeAfter(EEventChannel channel);
  // Once a second: whether the channel's subscription is to be made again now (it reported an
  // error kResubscribeSeconds ago, or it was held by a full queue that has room again), and
  // after which record.
  bool ResubscribeDue(EEventChannel channel, uint64_t& afterRecord);
  // Security log failures that name no address (network level authentication), since start.
  uint64_t NoAddressFailures() const { return m_nNoAddress; }

 private:
  bool RequestBlock(const std::string& ipv4, ELogonSource source) override;
  EBlockRefusal LastRefusal() const override { return m_lastRefusal; }
  void SendAlerts(int64_t now);
  void LogSourceChanges();

  CGuardPorts m_ports;
  std::shared_ptr<CGuardInbox> m_inbox;
  CLogonGuardSettings m_settings;
  CFailurePolicy m_policy;
  EBlockRefusal m_lastRefusal = EBlockRefusal::kNone;
  // Blocks not alerted yet: the first kMaxAlertAddresses addresses, and how many more.
  struct CPendingAlert {
    std::vector<std::string> addresses;
    size_t nMore = 0;
    bool Empty() const { return addresses.empty(); }
    void Clear() {
      addresses.clear();
      nMore = 0;
    }
  };
  CPendingAlert m_pending[kLogonSourceCount];
  int64_t m_tLastAlert = 0;
  uint64_t m_position[kEventChannelCount] = {};
  uint64_t m_saved[kEventChannelCount] = {};
  int64_t m_tPositionsSaved = 0;
  int64_t m_tFailureSeen[kEventChannelCount] = {};
  uint64_t m_holdsLogged[kEventChannelCount] = {};
  uint64_t m_loggedChange[kGuardSourceCount + 1] = {};
  uint64_t m_nDroppedLogged = 0;
  uint64_t m_nNoAddress = 0;
};
