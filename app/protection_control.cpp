#include "app/protection_control.h"

#include "app/startup.h"
#include "driver/driver_install.h"
#include "driver/driver_link.h"

namespace startmsg {
const char kAlreadyRunning[] = "防火墙已经启动!";
const char kInstallQuestion[] =
    "第一次使用需安装NDIS驱动,安装后可能需重启您的服务器! \n请备份好您的数据,是否安装?";
const char kInstallFailed[] = "驱动安装失败!";
const char kStartFailed[] = "防火墙启动失败!";
const char kDriverTooOld[] = "驱动版本过低!请下载新版本软件,并卸载现用驱动(见帮助)。";
const char kUnknownError[] = "启动未知错误,请手动安装NDIS驱动!";
const char kStartedOk[] = "防火墙启动成功!";
const char kRestartQuestion[] = "您必须重启服务器才能使用Tavrick?";
const char kAlreadyStopped[] = "防火墙已经停止!";
const char kStopFailed[] = "防火墙停止失败!";
const char kStoppedOk[] = "防火墙停止成功!";
const char kLoadingBusy[] = "正在加载配置";
const char kStoppingBusy[] = "正在停止防火墙";
const char kStateRunning[] = "启动";
const char kStateStopped[] = "停止";
const char kExitQuestion[] = "是否真的要停止防护吗?";
}  // namespace startmsg

namespace msg = startmsg;

// Marks a command as running for its whole extent, exceptions included.
class CProtectionControl::CCommandScope {
 public:
  explicit CCommandScope(CProtectionControl& control) : m_control(control) { m_control.m_bCommandRunning = true; }
  ~CCommandScope() { m_control.m_bCommandRunning = false; }
  CCommandScope(const CCommandScope&) = delete;
  CCommandScope& operator=(const CCommandScope&) = delete;

 private:
  CProtectionControl& m_control;
};

void CProtectionControl::StartCommand() {
  if (m_bCommandRunning || Closing()) return;
  {
    CCommandScope scope(*this);
    RunStart();
  }
  AfterCommand();
}

void CProtectionControl::StopCommand() {
  if (m_bCommandRunning || Closing()) return;
  {
    CCommandScope scope(*this);
    RunStop();
  }
  AfterCommand();
}

void CProtectionControl::ExitCommand() {
  if (m_bCommandRunning || Closing()) return;
  {
    CCommandScope scope(*this);
    if (m_ports.Ask(msg::kExitQuestion)) {
      m_bExiting = true;
      StopProtection();  // its result does not matter: the process ends either way
      RefusePendingEnd();  // no successor after a confirmed exit
      m_ports.EndProcess();
    }
  }
  AfterCommand();
}

bool CProtectionControl::AutoStartDue() {
  return !Closing() && !m_ports.Protecting() && (m_ports.ProtectSeconds() != 0 || g_bRebootUp || m_bRetryDue);
}

void CProtectionControl::AutoStart() {
  if (m_bCommandRunning) {
    m_bAutoStartAsked = true;
    return;
  }
  if (!AutoStartDue()) return;
  g_bRebootUp = false;  // the command word asks for one automatic start, not one per show
  m_bRetryDue = false;
  m_strAutoFailure.clear();
  bool failed = false;
  {
    CCommandScope scope(*this);
    m_bAutomatic = true;
    try {
      RunStart();
    } catch (...) {
      m_bAutomatic = false;
      throw;
    }
    m_bAutomatic = false;
    failed = !m_ports.Protecting() && !Closing();
  }
  if (failed) {
    m_bRetryDue = true;
    m_ports.AutomaticStartFailed(m_strAutoFailure.empty() ? std::string(msg::kStartFailed) : m_strAutoFailure);
  }
  AfterCommand();
}

void CProtectionControl::Tell(const std::string& text) {
  if (m_bAutomatic)
    m_strAutoFailure = text;
  else
    m_ports.Show(text);
}

bool CProtectionControl::Confirm(const std::string& text) {
  if (!m_bAutomatic) return m_ports.Ask(text);
  m_strAutoFailure = text;
  return false;
}

void CProtectionControl::EndForSuccessor(EndForSuccessorFn end, std::function<void()> refused) {
  if (Closing()) {
    if (refused) refused();
    return;
  }
  if (m_bCommandRunning) {
    RefusePendingEnd();  // one end at a time: the later one stands
    m_pendingEnd = std::move(end);
    m_pendingRefused = std::move(refused);
    return;
  }
  RunEnd(end);
}

void CProtectionControl::RunEnd(const EndForSuccessorFn& end) {
  const bool resume = m_ports.Protecting() || AutoStartDue();
  m_bEnding = true;
  m_ports.WriteCarryOver(resume);
  if (!end(resume)) m_bEnding = false;
}

void CProtectionControl::RefusePendingEnd() {
  std::function<void()> refused = std::move(m_pendingRefused);
  m_pendingEnd = nullptr;
  m_pendingRefused = nullptr;
  if (refused) refused();
}

void CProtectionControl::AfterCommand() {
  if (m_pendingEnd) {
    if (Closing()) {
      RefusePendingEnd();
    } else {
      EndForSuccessorFn end = std::move(m_pendingEnd);
      m_pendingEnd = nullptr;
      m_pendingRefused = nullptr;
      RunEnd(end);
    }
  }
  if (!m_bAutoStartAsked) return;
  m_bAutoStartAsked = false;
  AutoStart();
}

void CProtectionControl::RunStart() {
  if (m_ports.Protecting()) {
    Tell(msg::kAlreadyRunning);
    return;
  }
  const CFilterFacts facts = m_ports.FilterFacts();
  const FilterRoute route = ChooseFilterRoute(m_ports.FilterSetting(), facts);
  if (route == FilterRoute::kRefused) {
    Tell(facts.bAdministrator ? routemsg::kEngineUnusable + m_ports.EngineUnusableReason()
                                      : std::string(routemsg::kNoRights));
    return;
  }
  m_ports.UseFilterRoute(route);
  bool needsRestart = false;
  if (route == FilterRoute::kDriver) {
    // The driver's installation, as it always was; the user-mode filter needs none.
    if (!m_ports.ProbeDevice() && !Confirm(msg::kInstallQuestion)) return;
    const int installed = m_ports.InstallDriver();
    needsRestart = installed == kInstalledNeedsRestart;
    if (!needsRestart && installed != kInstalledNow && installed != kInstalledAlready) {
      const std::string why = m_ports.EngineUnusableReason();
      Tell(why.empty() ? std::string(msg::kInstallFailed)
                               : std::string(msg::kInstallFailed) + "\n" + routemsg::kNeitherFilter + why);
      return;
    }
  }
  if (!needsRestart) {
    if (m_ports.Protecting()) {
      Tell(msg::kAlreadyRunning);
      return;
    }
    const int result = StartProtection();
    switch (result) {
      case kStartOk:
        m_ports.SetStateFace(true, msg::kStateRunning);
        m_ports.SetFilterName(route == FilterRoute::kUserMode ? routemsg::kUserModeName : routemsg::kDriverName);
        m_ports.MarkRunning();
        m_ports.ProtectionStarted();
        // A carried-over protection time means this is an automatic restart: stay quiet.
        if (!m_bAutomatic && m_ports.ProtectSeconds() == 0) m_ports.Show(msg::kStartedOk);
        return;
      case kStartNeedsRestart:
        needsRestart = true;
        break;
      case kStartFailed:
        Tell(msg::kStartFailed);
        return;
      case kStartDriverTooOld:
        Tell(msg::kDriverTooOld);
        return;
      default:
        Tell(msg::kUnknownError);
        return;
    }
  }
  if (Confirm(msg::kRestartQuestion)) m_ports.RebootServer();
}

int CProtectionControl::StartProtection() {
  const int result = m_ports.StartDriverFiltering();
  if (result != kStartOk) return result;
  m_ports.EnableButtons(false);
  m_ports.SetBusy(msg::kLoadingBusy);
  m_ports.LoadListsIntoDriver();
  m_ports.CreateWorkingWindows();
  m_ports.SetBusy("");
  m_ports.EnableButtons(true);
  m_ports.SetTrayIcon(kTrayIconRunning);
  return kStartOk;
}

void CProtectionControl::RunStop() {
  if (!m_ports.Protecting()) {
    m_ports.Show(msg::kAlreadyStopped);
    return;
  }
  if (StopProtection() != 1) {
    m_ports.Show(msg::kStopFailed);
    return;
  }
  m_ports.SetStateFace(false, msg::kStateStopped);
  m_ports.SetFilterName("");
  m_ports.Show(msg::kStoppedOk);
}

int CProtectionControl::StopProtection() {
  if (m_ports.StopDriverSequence() != 1) return 0;
  m_ports.EnableButtons(false);
  m_ports.SetBusy(msg::kStoppingBusy);
  m_ports.WaitPumping(10);
  m_ports.SetBusy("");
  m_ports.EnableButtons(true);
  m_ports.SetTrayIcon(kTrayIconStopped);
  return 1;
}
