#include "service/boot_guard.h"

#include "config/ini_access.h"
#include "config/profile_store.h"

const char kBootLogPrefix[] = "svc";
const char kServiceCopyCommandWords[] = "rebootup service";

namespace {

constexpr const char* kSysice = "sysice";

// Digits only; anything else (empty, cut, garbage) carries nothing over.
int64_t CarriedSeconds(const std::string& text) {
  if (text.empty() || text.size() > 18) return 0;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

CBootConfig ReadBootConfig(IProfileStore& store, const std::string& file, const std::string& goodCopy) {
  CBootConfig config;
  for (const std::string* source : {&file, &goodCopy}) {
    if (!store.Has(*source, kSysice, "onlinetime")) continue;
    config.bFound = true;
    config.llCarriedSeconds = CarriedSeconds(ReadIni(store, *source, kSysice, "onlinetime"));
    config.bBootProtect = ReadIni(store, *source, kSysice, "bootprotect") == "1";
    config.bAdminStopped = ReadIni(store, *source, kSysice, "adminstop") == "1";
    break;
  }
  return config;
}

BootDecision DecideBootProtection(const CBootConfig& config) {
  if (!config.bFound) return BootDecision::kNoConfig;
  if (config.bAdminStopped) return BootDecision::kAdminStopped;
  if (config.llCarriedSeconds != 0) return BootDecision::kCarriedOver;
  if (config.bBootProtect) return BootDecision::kAlwaysAtBoot;
  return BootDecision::kNotProtecting;
}

int64_t CRestartBackoff::Ended(int64_t now, int64_t ranSeconds) {
  if (m_llDelay == 0 || ranSeconds >= kHealthyRun) {
    m_llDelay = kFirstDelay;
  } else {
    m_llDelay = m_llDelay * 2 > kMaxDelay ? kMaxDelay : m_llDelay * 2;
  }
  m_llNextStart = now + m_llDelay;
  return m_llDelay;
}

std::string DecisionText(BootDecision decision, const CBootConfig& config) {
  switch (decision) {
    case BootDecision::kCarriedOver:
      return "上次运行结束时正在防护(已防护" + std::to_string(config.llCarriedSeconds) + "秒)";
    case BootDecision::kAlwaysAtBoot:
      return "已设置开机防护(bootprotect=1)";
    case BootDecision::kStillProtecting:
      return "防护没有被管理员停止";
    case BootDecision::kAdminStopped:
      return "管理员已停止防护或退出软件,不启动Tavrick";
    case BootDecision::kNotProtecting:
      return "上次运行结束时没有防护,不启动Tavrick";
    case BootDecision::kNoConfig:
    default:
      return "没有配置文件tavrick.cfg,不启动Tavrick";
  }
}

void CBootGuard::Note(Seen seen, const std::string& line) {
  if (seen == m_lastSeen) return;
  m_lastSeen = seen;
  m_ports.Log(line);
}

void CBootGuard::Tick() {
  const int64_t now = m_ports.Now();
  if (m_bChild) {
    if (m_ports.ChildRunning()) return;
    m_bChild = false;
    const int64_t ran = now - m_llChildStart;
    const uint32_t code = m_ports.ChildExitCode();
    if (code == kProgramHandedOverExitCode) {
      m_backoff.Reset();
      m_ports.Log("Tavrick已把防护交给管理员启动的Tavrick(运行" + std::to_string(ran) + "秒)");
    } else {
      m_backoff.Ended(now, ran);
      m_ports.Log("Tavrick已结束(退出码" + std::to_string(code) + ",运行" + std::to_string(ran) + "秒)");
    }
    m_lastSeen = Seen::kNothing;
  }
  if (m_ports.ProgramRunning()) {
    m_bNameSeen = true;
    m_llNameLastSeen = now;
    Note(Seen::kOtherCopy, "已有Tavrick在运行,不启动");
    return;
  }
  const CBootConfig config = m_ports.ReadConfig();
  BootDecision decision = DecideBootProtection(config);
  if (decision == BootDecision::kNotProtecting && m_bProtecting) decision = BootDecision::kStillProtecting;
  m_bProtecting = Protects(decision);
  if (!m_bProtecting) {
    if (m_lastSeen != Seen::kNoProtection || decision != m_lastDecision) m_ports.Log(DecisionText(decision, config));
    m_lastSeen = Seen::kNoProtection;
    m_lastDecision = decision;
    return;
  }
  if (m_bNameSeen && now - m_llNameLastSeen < kSettleSeconds) {
    Note(Seen::kSettling, "Tavrick已结束,等待" + std::to_string(kSettleSeconds) + "秒再决定是否启动");
    return;
  }
  if (!m_backoff.Due(now)) {
    Note(Seen::kWaiting, std::to_string(m_backoff.NextStart() - now) + "秒后重新启动Tavrick");
    return;
  }
  uint32_t error = 0;
  if (!m_ports.StartProgram(&error)) {
    const int64_t pause = m_backoff.Ended(now, 0);
    m_ports.Log("无法启动Tavrick(错误" + std::to_string(error) + ")," + std::to_string(pause) + "秒后重试");
    m_lastSeen = Seen::kStartFailed;
    return;
  }
  m_bChild = true;
  m_llChildStart = now;
  m_lastSeen = Seen::kChild;
  m_lastDecision = decision;
  m_ports.Log(DecisionText(decision, config) + ",启动Tavrick(rebootup)");
}
