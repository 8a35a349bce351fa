#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

#include "app/protect_time.h"
#include "app/protection_control.h"
#include "app/startup.h"
#include "driver/driver_install.h"
#include "driver/driver_link.h"
#include "ui/anchor_layout.h"
#include "ui/handler_guard.h"
#include "ui/keyboard_rule.h"
#include "ui/web_link.h"

namespace {

TEST(ProtectTimeText, EachRangeAndItsBoundaries) {
  EXPECT_EQ("59秒", ProtectTimeText(59));
  EXPECT_EQ("1分0秒", ProtectTimeText(60));
  EXPECT_EQ("1分41秒", ProtectTimeText(101));
  EXPECT_EQ("59分59秒", ProtectTimeText(3599));
  EXPECT_EQ("1时0分0秒", ProtectTimeText(3600));
  EXPECT_EQ("1时0分1秒", ProtectTimeText(3601));
  EXPECT_EQ("23时59分59秒", ProtectTimeText(86399));
  EXPECT_EQ("1天0时0分0秒", ProtectTimeText(86400));
  EXPECT_EQ("1天1时1分1秒", ProtectTimeText(90061));
  EXPECT_EQ("0秒", ProtectTimeText(0));
}

TEST(FormatProtectTime, CountsTheSecondBeforeShowingIt) {
  int64_t total = 90060;
  int32_t sinceStart = 7;
  EXPECT_EQ("1天1时1分1秒", FormatProtectTime(total, sinceStart));
  EXPECT_EQ(90061, total);
  EXPECT_EQ(8, sinceStart);
}

TEST(PickRelatedSoftware, LastTextAndLastLinkWin) {
  std::string text = "广告招商中", link = "old";
  PickRelatedSoftware({"text1", "link1", "text2", "link2"}, text, link);
  EXPECT_EQ("text2", text);
  EXPECT_EQ("link2", link);
  PickRelatedSoftware({"a", "l", "b"}, text, link);
  EXPECT_EQ("b", text);
  EXPECT_EQ("l", link);
  PickRelatedSoftware({}, text, link);
  EXPECT_EQ("", text);
  EXPECT_EQ("", link);
}

TEST(AnchorLayout, WideningMovesAndGrowsByWholePercentShares) {
  CAnchorLayout layout;
  layout.Add({1013, 10, 0, 3, 1}, 400, 300);
  int dx = 0, dy = 0;
  layout.Resize(0, 600, 300, &dx, &dy);
  EXPECT_EQ(200, dx);
  EXPECT_EQ(0, dy);
  const CControlRect moved = ApplyAnchor(layout.Anchors()[0], {50, 20, 150, 40}, dx, dy);
  EXPECT_EQ(70, moved.left);
  EXPECT_EQ(20, moved.top);
  EXPECT_EQ(106, moved.right - moved.left);
  EXPECT_EQ(20, moved.bottom - moved.top);
}

TEST(AnchorLayout, MinimisingIsANoOpAndKeepsTheReference) {
  CAnchorLayout layout;
  layout.Add({1, 100, 100, 100, 100}, 400, 300);
  int dx = -1, dy = -1;
  layout.Resize(kSizeMinimized, 0, 0, &dx, &dy);
  EXPECT_EQ(0, dx);
  EXPECT_EQ(0, dy);
  layout.Resize(0, 400, 300, &dx, &dy);  // restored: same size as before
  EXPECT_EQ(0, dx);
  EXPECT_EQ(0, dy);
}

TEST(AnchorLayout, TruncationErrorsAddUpOverResizes) {
  CAnchorLayout layout;
  const CAnchor anchor{1, 3, 0, 0, 0};
  layout.Add(anchor, 100, 100);
  CControlRect rc{0, 0, 10, 10};
  int dx, dy;
  for (int width = 110; width <= 200; width += 10) {  // ten steps of 10 px: 3% of 10 truncates to 0
    layout.Resize(0, width, 100, &dx, &dy);
    rc = ApplyAnchor(anchor, rc, dx, dy);
  }
  EXPECT_EQ(0, rc.left);
  layout.Resize(0, 300, 100, &dx, &dy);  // one step of 100 px moves by 3
  EXPECT_EQ(3, ApplyAnchor(anchor, rc, dx, dy).left);
  const CControlRect shrunk = ApplyAnchor({1, 50, 0, 50, 0}, {100, 0, 200, 10}, -3, 0);
  EXPECT_EQ(99, shrunk.left);  // -1.5 truncates toward zero
  EXPECT_EQ(99, shrunk.right - shrunk.left);
}

TEST(KeyboardRule, EscapeAndEnterNeverReachTheDialog) {
  EXPECT_TRUE(SwallowDialogKey(0x0100, 27));   // WM_KEYDOWN Escape
  EXPECT_FALSE(SwallowDialogKey(0x0101, 27));  // WM_KEYUP Escape passes
  EXPECT_TRUE(SwallowDialogKey(0x0100, 13));   // key-down, key-up and char of Enter
  EXPECT_TRUE(SwallowDialogKey(0x0101, 13));
  EXPECT_TRUE(SwallowDialogKey(0x0102, 13));
  EXPECT_FALSE(SwallowDialogKey(0x0100, 9));   // Tab still navigates
  EXPECT_FALSE(SwallowDialogKey(0x0113, 13));  // WM_TIMER with id 13 is not a key
  EXPECT_FALSE(SwallowDialogKey(0x0111, 13));  // nor WM_COMMAND of control 13
}

TEST(WebLink, OnlyHttpAndHttpsAddressesOpen) {
  for (const char* url : {"http://vendor.example/tavrick/index.jsp#credit", "HTTPS://x", "http://软件.cn/下载"})
    EXPECT_TRUE(IsWebLink(url)) << url;
  for (const char* url : {"C:\\Windows\\system32\\cmd.exe", "\\\\server\\share\\run.exe", "file:///C:/x.exe",
                          "calc", "", "http://", "https:/x", "ftp://x", "javascript:alert(1)",
                          " http://x", "http://x y", "http://x\tcmd", "mailto:a@b.c", "shell:startup"})
    EXPECT_FALSE(IsWebLink(url)) << url;
}

TEST(HandlerGuard, AThrowingHandlerIsContained) {
  int ran = 0;
  EXPECT_TRUE(RunGuarded([&] { ++ran; }));
  EXPECT_FALSE(RunGuarded([&] {
    ++ran;
    throw std::runtime_error("x");
  }));
  EXPECT_FALSE(RunGuarded([] { throw 42; }));
  EXPECT_EQ(2, ran);
}

// Records what the start and stop commands do, in order.
class FakeProtection : public IProtectionPorts {
 public:
  void Show(const std::string& text) override { log.push_back("show:" + text); }
  bool Ask(const std::string& text) override {
    log.push_back("ask:" + text);
    if (duringQuestion) duringQuestion();
    return answer;
  }
  bool Protecting() override { return protecting; }
  FilterDeviceSetting FilterSetting() override { return setting; }
  CFilterFacts FilterFacts() override {
    facts.bDriverOpens = probe;
    return facts;
  }
  void UseFilterRoute(FilterRoute route) override {
    if (route == FilterRoute::kUserMode) log.push_back("route:wfp");
  }
  std::string EngineUnusableReason() override { return engineReason; }
  void SetFilterName(const std::string& name) override { filterName = name; }
  bool ProbeDevice() override { return probe; }
  int InstallDriver() override {
    log.push_back("install");
    return installResult;
  }
  int StartDriverFiltering() override {
    log.push_back("filter");
    return startResult;
  }
  void LoadListsIntoDriver() override {
    log.push_back("load");
    if (duringWait) duringWait();
  }
  int StopDriverSequence() override {
    log.push_back("stopdriver");
    if (stopResult == 1) protecting = false;  // marked stopped before the wait
    return stopResult;
  }
  void MarkRunning() override {
    log.push_back("running");
    protecting = true;
  }
  void EnableButtons(bool enable) override { log.push_back(enable ? "enable" : "disable"); }
  void SetBusy(const std::string& text) override { log.push_back("busy:" + text); }
  void SetStateFace(bool running, const std::string& label) override {
    log.push_back(std::string(running ? "face-running:" : "face-stopped:") + label);
  }
  void SetTrayIcon(int icon) override { log.push_back("tray:" + std::to_string(icon)); }
  void CreateWorkingWindows() override { log.push_back("windows"); }
  void WaitPumping(int seconds) override {
    log.push_back("wait:" + std::to_string(seconds));
    if (duringWait) duringWait();
  }
  void RebootServer() override { log.push_back("reboot"); }
  long long ProtectSeconds() override { return protectSeconds; }
  void WriteCarryOver(bool resume) override { log.push_back(resume ? "carry:resume" : "carry:none"); }
  void EndProcess() override { log.push_back("end"); }
  void ProtectionStarted() override { ++protectionStarts; }
  void AutomaticStartFailed(const std::string& text) override { autoFailures.push_back(text); }

  bool answer = true, protecting = false, probe = true;
  FilterDeviceSetting setting = FilterDeviceSetting::kAuto;
  CFilterFacts facts;
  std::string engineReason, filterName;
  int installResult = kInstalledAlready, startResult = kStartOk, stopResult = 1;
  long long protectSeconds = 0;
  std::vector<std::string> log;
  int protectionStarts = 0;
  std::vector<std::string> autoFailures;
  // What arrives while a command processes messages (list load, stop wait, a question).
  std::function<void()> duringWait, duringQuestion;
};

using Log = std::vector<std::string>;

TEST(ProtectionControl, SuccessfulStartLoadsCreatesWindowsAndAnnounces) {
  FakeProtection ports;
  CProtectionControl(ports).StartCommand();
  EXPECT_EQ((Log{"install", "filter", "disable", "busy:正在加载配置", "load", "windows", "busy:", "enable",
                 "tray:157", "face-running:启动", "running", "show:防火墙启动成功!"}),
            ports.log);
}

TEST(ProtectionControl, CarriedOverTimeStartsQuietly) {
  FakeProtection ports;
  ports.protectSeconds = 100;
  CProtectionControl(ports).StartCommand();
  EXPECT_EQ("running", ports.log.back());
}

TEST(ProtectionControl, MissingDriverAsksAndNoChangesNothing) {
  FakeProtection ports;
  ports.probe = false;
  ports.answer = false;
  CProtectionControl(ports).StartCommand();
  EXPECT_EQ((Log{"ask:第一次使用需安装NDIS驱动,安装后可能需重启您的服务器! \n请备份好您的数据,是否安装?"}), ports.log);
}

TEST(ProtectionControl, InstallResults) {
  for (int result : {kInstallFailed, 3, -1}) {
    FakeProtection ports;
    ports.installResult = result;
    CProtectionControl(ports).StartCommand();
    EXPECT_EQ((Log{"install", "show:驱动安装失败!"}), ports.log) << result;
  }
  FakeProtection restart;
  restart.installResult = kInstalledNeedsRestart;
  CProtectionControl(restart).StartCommand();
  EXPECT_EQ((Log{"install", "ask:您必须重启服务器才能使用Tavrick?", "reboot"}), restart.log);
  FakeProtection now;
  now.installResult = kInstalledNow;
  CProtectionControl(now).StartCommand();
  EXPECT_TRUE(now.protecting);
}

TEST(ProtectionControl, WithoutTheDriverTheUserModeFilterStartsWithNoQuestionAndNoInstallation) {
  FakeProtection ports;
  ports.probe = false;
  ports.facts.bEngineUsable = true;
  CProtectionControl(ports).StartCommand();
  EXPECT_EQ((Log{"route:wfp", "filter", "disable", "busy:正在加载配置", "load", "windows", "busy:", "enable",
                 "tray:157", "face-running:启动", "running", "show:防火墙启动成功!"}),
            ports.log);
  EXPECT_EQ("WFP", ports.filterName);
  FakeProtection driver;  // the vendor's driver opens: today's flow, named in the status bar
  driver.facts.bEngineUsable = true;
  CProtectionControl(driver).StartCommand();
  EXPECT_EQ("install", driver.log.front());
  EXPECT_EQ("驱动", driver.filterName);
}

TEST(ProtectionControl, WhatCannotRunIsSaidPlainly) {
  FakeProtection noRights;
  noRights.facts.bAdministrator = false;
  CProtectionControl(noRights).StartCommand();
  ASSERT_EQ(1u, noRights.log.size());
  EXPECT_NE(std::string::npos, noRights.log[0].find("管理员权限"));

  FakeProtection forced;  // the setting asks for the user-mode filter, and the engine is missing
  forced.setting = FilterDeviceSetting::kUserMode;
  forced.engineReason = "基本筛选引擎(BFE)服务没有运行。";
  CProtectionControl(forced).StartCommand();
  EXPECT_EQ((Log{"show:无法使用Windows筛选平台(WFP)启动防护:基本筛选引擎(BFE)服务没有运行。"}), forced.log);

  FakeProtection neither;  // no driver, no engine: the failed installation names both
  neither.probe = false;
  neither.installResult = kInstallFailed;
  neither.engineReason = "基本筛选引擎(BFE)服务没有运行。";
  CProtectionControl(neither).StartCommand();
  EXPECT_EQ("show:驱动安装失败!\n也无法使用Windows筛选平台(WFP):基本筛选引擎(BFE)服务没有运行。", neither.log.back());
}

TEST(FilterRoute, TheDriverFirstThenTheEngineAndTheSettingDecides) {
  auto route = [](FilterDeviceSetting setting, bool driver, bool engine) {
    CFilterFacts facts;
    facts.bDriverOpens = driver;
    facts.bEngineUsable = engine;
    return ChooseFilterRoute(setting, facts);
  };
  const auto kAuto = FilterDeviceSetting::kAuto;
  EXPECT_EQ(FilterRoute::kDriver, route(kAuto, true, true));
  EXPECT_EQ(FilterRoute::kUserMode, route(kAuto, false, true));
  EXPECT_EQ(FilterRoute::kDriver, route(kAuto, false, false));  // the stand-in under Wine
  EXPECT_EQ(FilterRoute::kDriver, route(FilterDeviceSetting::kDriver, false, true));
  EXPECT_EQ(FilterRoute::kUserMode, route(FilterDeviceSetting::kUserMode, true, true));
  EXPECT_EQ(FilterRoute::kRefused, route(FilterDeviceSetting::kUserMode, true, false));
  EXPECT_EQ(FilterDeviceSetting::kUserMode, ParseFilterDeviceSetting("wfp"));
  EXPECT_EQ(FilterDeviceSetting::kDriver, ParseFilterDeviceSetting("driver"));
  EXPECT_EQ(FilterDeviceSetting::kAuto, ParseFilterDeviceSetting("WFP "));
}

TEST(ProtectionControl, StartResultsHaveTheirMessages) {
  const std::pair<int, const char*> cases[] = {
      {kStartFailed, "show:防火墙启动失败!"},
      {kStartDriverTooOld, "show:驱动版本过低!请下载新版本软件,并卸载现用驱动(见帮助)。"},
      {7, "show:启动未知错误,请手动安装NDIS驱动!"},
  };
  for (const auto& c : cases) {
    FakeProtection ports;
    ports.startResult = c.first;
    CProtectionControl(ports).StartCommand();
    EXPECT_EQ((Log{"install", "filter", c.second}), ports.log);
    EXPECT_FALSE(ports.protecting);
  }
  FakeProtection restart;
  restart.startResult = kStartNeedsRestart;
  restart.answer = false;
  CProtectionControl(restart).StartCommand();
  EXPECT_EQ((Log{"install", "filter", "ask:您必须重启服务器才能使用Tavrick?"}), restart.log);
}

TEST(ProtectionControl, AlreadyRunningIsSaidAndNothingElse) {
  FakeProtection ports;
  ports.protecting = true;
  CProtectionControl(ports).StartCommand();
  EXPECT_EQ((Log{"show:防火墙已经启动!"}), ports.log);
}

TEST(ProtectionControl, StopWaitsTenSecondsWithButtonsDisabled) {
  FakeProtection ports;
  ports.protecting = true;
  CProtectionControl(ports).StopCommand();
  EXPECT_EQ((Log{"stopdriver", "disable", "busy:正在停止防火墙", "wait:10", "busy:", "enable", "tray:128",
                 "face-stopped:停止", "show:防火墙停止成功!"}),
            ports.log);
}

TEST(ProtectionControl, StopFailuresAndStoppedState) {
  FakeProtection stopped;
  CProtectionControl(stopped).StopCommand();
  EXPECT_EQ((Log{"show:防火墙已经停止!"}), stopped.log);
  FakeProtection failing;
  failing.protecting = true;
  failing.stopResult = 0;
  CProtectionControl(failing).StopCommand();
  EXPECT_EQ((Log{"stopdriver", "show:防火墙停止失败!"}), failing.log);
}

// ---- command guard -------------------------------------------------------------------------

size_t Count(const Log& log, const std::string& entry) {
  size_t n = 0;
  for (const std::string& e : log) n += e == entry;
  return n;
}

class CommandGuard : public ::testing::Test {
 protected:
  void SetUp() override { g_bRebootUp = false; }
  void TearDown() override { g_bRebootUp = false; }
  // Everything a click, the tray menu or a show of the window can ask for meanwhile.
  void EverythingArrives() {
    control.AutoStart();
    control.StartCommand();
    control.StopCommand();
    control.ExitCommand();
  }
  FakeProtection ports;
  CProtectionControl control{ports};
};

TEST_F(CommandGuard, NothingBeginsDuringTheStopWaitAndTheAutoStartIsCheckedAfter) {
  ports.protecting = true;
  ports.protectSeconds = 100;
  ports.duringWait = [this] {
    EXPECT_TRUE(control.CommandRunning());
    EverythingArrives();
  };
  control.StopCommand();
  // The stop ran to its end undisturbed, then the automatic start asked for during the wait
  // ran (quietly: the protection time carries over); face, tray and flag agree.
  const Log expected{"stopdriver", "disable", "busy:正在停止防火墙", "wait:10", "busy:", "enable", "tray:128",
                     "face-stopped:停止", "show:防火墙停止成功!", "install", "filter", "disable", "busy:正在加载配置",
                     "load", "windows", "busy:", "enable", "tray:157", "face-running:启动", "running"};
  EXPECT_EQ(expected, ports.log);
  EXPECT_TRUE(ports.protecting);
  EXPECT_FALSE(control.CommandRunning());
}

TEST_F(CommandGuard, TheListLoadOpensTheDeviceOnce) {
  ports.duringWait = [this] { EverythingArrives(); };
  control.StartCommand();
  EXPECT_EQ(1u, Count(ports.log, "filter"));
  EXPECT_EQ("show:防火墙启动成功!", ports.log.back());  // the re-check found protection running
}

TEST_F(CommandGuard, AfterAConfirmedExitNothingStartsAgain) {
  ports.protecting = true;
  ports.protectSeconds = 100;
  ports.duringQuestion = [this] { EverythingArrives(); };
  ports.duringWait = [this] { EverythingArrives(); };
  control.ExitCommand();
  control.AutoStart();
  control.StartCommand();
  EXPECT_EQ((Log{"ask:是否真的要停止防护吗?", "stopdriver", "disable", "busy:正在停止防火墙", "wait:10", "busy:",
                 "enable", "tray:128", "end"}),
            ports.log);
  EXPECT_FALSE(ports.protecting);
}

TEST_F(CommandGuard, ExitAnsweredNoLeavesEverythingAndReleasesTheGuard) {
  ports.protecting = true;
  ports.answer = false;
  control.ExitCommand();
  EXPECT_EQ((Log{"ask:是否真的要停止防护吗?"}), ports.log);
  ports.log.clear();
  control.StopCommand();
  EXPECT_EQ(1u, Count(ports.log, "stopdriver"));
}

TEST_F(CommandGuard, AFailingCommandReleasesTheGuard) {
  ports.protecting = true;
  ports.duringWait = [] { throw std::runtime_error("handler failed"); };
  EXPECT_THROW(control.StopCommand(), std::runtime_error);
  EXPECT_FALSE(control.CommandRunning());
  ports.duringWait = nullptr;
  ports.protecting = true;
  ports.log.clear();
  control.StopCommand();
  EXPECT_EQ("show:防火墙停止成功!", ports.log.back());
}

// Nobody may be there at an automatic start (after a reboot, at logon, by the updater): it
// asks and shows nothing, says why it failed, and is due again until protection runs.
TEST_F(CommandGuard, AnAutomaticStartAsksNothingAndIsTriedAgainUntilItProtects) {
  g_bRebootUp = true;
  ports.probe = false;  // the driver is missing: a user would be asked to install it
  control.AutoStart();
  EXPECT_TRUE(ports.log.empty()) << ports.log.front();
  EXPECT_EQ((Log{startmsg::kInstallQuestion}), ports.autoFailures);
  EXPECT_FALSE(g_bRebootUp);
  EXPECT_TRUE(control.AutoStartDue());  // tried again later
  EXPECT_FALSE(control.CommandRunning());

  ports.probe = true;
  ports.startResult = kStartFailed;
  control.AutoStart();
  EXPECT_EQ((Log{startmsg::kInstallQuestion, startmsg::kStartFailed}), ports.autoFailures);
  EXPECT_EQ(0u, Count(ports.log, std::string("show:") + startmsg::kStartFailed));

  ports.startResult = kStartOk;
  control.AutoStart();
  EXPECT_TRUE(ports.protecting);
  EXPECT_EQ(1, ports.protectionStarts);  // a build the updater started confirms now
  EXPECT_EQ(0u, Count(ports.log, std::string("show:") + startmsg::kStartedOk));
  EXPECT_FALSE(control.AutoStartDue());
  EXPECT_EQ(2u, ports.autoFailures.size());

  // The user's own start still asks and tells.
  FakeProtection user;
  user.probe = false;
  user.answer = false;
  CProtectionControl(user).StartCommand();
  EXPECT_EQ((Log{std::string("ask:") + startmsg::kInstallQuestion}), user.log);
  EXPECT_TRUE(user.autoFailures.empty());
}

// A hand-over to the updater or the daily self-restart, as the window's thread runs it.
struct CSuccessorEnd {
  Log* log;
  bool ends = true;
  CProtectionControl::EndForSuccessorFn End() {
    return [this](bool resume) {
      log->push_back(resume ? "successor:protect" : "successor:idle");
      return ends;
    };
  }
  std::function<void()> Refused() {
    return [this] { log->push_back("refused"); };
  }
};

TEST_F(CommandGuard, AnEndForASuccessorWaitsForTheRunningStartAndCarriesProtectionOver) {
  CSuccessorEnd successor{&ports.log};
  ports.duringWait = [&] {
    control.EndForSuccessor(successor.End(), successor.Refused());
    EXPECT_EQ("load", ports.log.back());  // nothing ends inside the list load
  };
  control.StartCommand();
  // The start ran whole (face, running mark, message), then the carry-over, then the end.
  const Log tail{"face-running:启动", "running", "show:防火墙启动成功!", "carry:resume", "successor:protect"};
  ASSERT_GE(ports.log.size(), tail.size());
  EXPECT_EQ(tail, Log(ports.log.end() - tail.size(), ports.log.end()));
  // Ending, nothing starts or stops any more.
  ports.log.clear();
  control.StopCommand();
  control.AutoStart();
  EXPECT_TRUE(ports.log.empty());
}

TEST_F(CommandGuard, AnAutomaticStartThatIsDueCarriesOverBeforeItRan) {
  // The configuration load set the file's time to 0; the window has not started protection yet.
  CSuccessorEnd successor{&ports.log};
  ports.protectSeconds = 100;
  control.EndForSuccessor(successor.End(), successor.Refused());
  EXPECT_EQ((Log{"carry:resume", "successor:protect"}), ports.log);

  CProtectionControl idle{ports};
  ports.protectSeconds = 0;
  ports.log.clear();
  idle.EndForSuccessor(successor.End(), successor.Refused());
  EXPECT_EQ((Log{"carry:none", "successor:idle"}), ports.log);

  g_bRebootUp = true;  // started with "rebootup", the start not yet run
  CProtectionControl asked{ports};
  ports.log.clear();
  asked.EndForSuccessor(successor.End(), successor.Refused());
  EXPECT_EQ((Log{"carry:resume", "successor:protect"}), ports.log);
}

TEST_F(CommandGuard, AfterAConfirmedExitNoSuccessorStarts) {
  CSuccessorEnd successor{&ports.log};
  ports.protecting = true;
  ports.duringWait = [&] { control.EndForSuccessor(successor.End(), successor.Refused()); };
  control.ExitCommand();
  EXPECT_EQ(0u, Count(ports.log, "successor:protect"));
  EXPECT_EQ(1u, Count(ports.log, "refused"));
  EXPECT_EQ("end", ports.log.back());  // refused before the process ended
  ports.log.clear();
  control.EndForSuccessor(successor.End(), successor.Refused());
  EXPECT_EQ((Log{"refused"}), ports.log);
}

TEST_F(CommandGuard, AnEndThatCouldNotHappenLeavesTheProgramWorking) {
  CSuccessorEnd successor{&ports.log};
  successor.ends = false;  // no fresh copy could be started
  ports.protecting = true;
  control.EndForSuccessor(successor.End(), successor.Refused());
  ports.log.clear();
  control.StopCommand();
  EXPECT_EQ("show:防火墙停止成功!", ports.log.back());
}

}  // namespace
