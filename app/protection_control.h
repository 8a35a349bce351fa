#pragma once
// Starting, stopping and exit from the main window: the decisions, the questions, the messages
// and the command guard. The window supplies the ports; the driver link does the work.
//
// Command guard: the start, stop and exit commands process window messages while they run
// (questions, paced loading, the stop's wait), so a click, a tray command or an automatic
// start can arrive in the middle of one. While one command runs no other command begins; an
// automatic start asked for meanwhile is checked again once the command has ended; after a
// confirmed exit nothing starts any more.
#include <functional>
#include <string>

#include "app/filter_route.h"
#include "ui/prompt.h"

namespace startmsg {
extern const char kAlreadyRunning[];    // "防火墙已经启动!"
extern const char kInstallQuestion[];   // first-use driver installation question
extern const char kInstallFailed[];     // "驱动安装失败!"
extern const char kStartFailed[];       // "防火墙启动失败!"
extern const char kDriverTooOld[];      // driver version too old
extern const char kUnknownError[];      // any other start result
extern const char kStartedOk[];         // "防火墙启动成功!"
extern const char kRestartQuestion[];   // "您必须重启服务器才能使用Tavrick?"
extern const char kAlreadyStopped[];    // "防火墙已经停止!"
extern const char kStopFailed[];        // "防火墙停止失败!"
extern const char kStoppedOk[];         // "防火墙停止成功!"
extern const char kLoadingBusy[];       // "正在加载配置"
extern const char kStoppingBusy[];      // "正在停止防火墙"
extern const char kStateRunning[];      // "启动"
extern const char kStateStopped[];      // "停止"
extern const char kExitQuestion[];      // "是否真的要停止防护吗?"
}  // namespace startmsg

class IProtectionPorts : public IPrompt {
 public:
  virtual bool Protecting() = 0;
  // Which filter: the setting, what the machine offers (probed now), and the device the link
  // is to talk to from here on; why the user-mode filter cannot run ("" when it can).
  virtual FilterDeviceSetting FilterSetting() = 0;
  virtual CFilterFacts FilterFacts() = 0;
  virtual void UseFilterRoute(FilterRoute route) = 0;
  virtual std::string EngineUnusableReason() = 0;
  // The status bar names the filter that protects ("" once protection stops).
  virtual void SetFilterName(const std::string& name) = 0;
  virtual bool ProbeDevice() = 0;
  virtual int InstallDriver() = 0;
  virtual int StartDriverFiltering() = 0;  // open, check, start filtering: 0, 1, 100, 101
  virtual void LoadListsIntoDriver() = 0;  // both lists, pumping messages between steps
  virtual int StopDriverSequence() = 0;
  virtual void MarkRunning() = 0;
  virtual void EnableButtons(bool enable) = 0;
  virtual void SetBusy(const std::string& text) = 0;  // "" ends the busy display
  virtual void SetStateFace(bool running, const std::string& label) = 0;
  virtual void SetTrayIcon(int iconId) = 0;
  virtual void CreateWorkingWindows() = 0;
  virtual void WaitPumping(int seconds) = 0;
  virtual void RebootServer() = 0;
  virtual long long ProtectSeconds() = 0;
  // Before the program ends for a successor: when protection runs or an automatic start is
  // due, the protection time goes to the configuration now (the load set it to 0), so the
  // successor starts protecting by itself; the alerts waiting for a retry go to the successor.
  virtual void WriteCarryOver(bool resume) = 0;
  // The end of the exit command: tray icon removed, timers killed, markers written, process
  // ended. Returns only in tests.
  virtual void EndProcess() = 0;
  // Protection runs now, after any start: a build the updater started confirms here.
  virtual void ProtectionStarted() = 0;
  // An automatic start failed. It asked nothing and showed nothing; `text` is what a start by
  // the user would have shown: logged and sent as an alert, and the start is tried again later
  // (AutoStartDue stays true), or the program ends for the updater to roll back.
  virtual void AutomaticStartFailed(const std::string& text) = 0;
};

constexpr int kTrayIconStopped = 128;
constexpr int kTrayIconRunning = 157;

class CProtectionControl {
 public:
  explicit CProtectionControl(IProtectionPorts& ports) : m_ports(ports) {}
  void StartCommand();  // button "启动防护"
  void StopCommand();   // button "暂停防护"
  void ExitCommand();   // button "退出软件" and the tray menu's "退出"
  // The window was shown or hidden, or a failed automatic start is due again: protection
  // starts by itself when it does not run and the protection time is not zero or the command
  // word was "rebootup" (which counts once). Such a start asks nothing and shows nothing.
  void AutoStart();
  bool AutoStartDue();
  bool CommandRunning() const { return m_bCommandRunning; }

  // The program ends for a successor (the updater with a new build, a fresh copy of itself).
  // `end` runs on the window's thread once no command runs (at once when none does), after the
  // carry-over is written; it is told whether protection must resume and returns false when
  // the program goes on after all. After a confirmed exit, or while another end runs, `refused`
  // runs instead. Nothing starts any more once an end runs.
  using EndForSuccessorFn = std::function<bool(bool resume)>;
  void EndForSuccessor(EndForSuccessorFn end, std::function<void()> refused);

  int StartProtection();
  int StopProtection();

 private:
  class CCommandScope;
  void RunStart();
  void RunStop();
  void AfterCommand();
  void RunEnd(const EndForSuccessorFn& end);
  void RefusePendingEnd();
  bool Closing() const { return m_bExiting || m_bEnding; }
  // A message or a question of the start: to the user, or, in an automatic start, kept as the
  // reason it failed (a question counts as No).
  void Tell(const std::string& text);
  bool Confirm(const std::string& text);

  IProtectionPorts& m_ports;
  EndForSuccessorFn m_pendingEnd;  // asked for while a command ran
  std::function<void()> m_pendingRefused;
  bool m_bEnding = false;
  bool m_bCommandRunning = false;
  bool m_bAutoStartAsked = false;  // asked while a command ran
  bool m_bExiting = false;
  bool m_bAutomatic = false;  // the start running is an automatic one
  bool m_bRetryDue = false;   // an automatic start failed: it is tried again
  std::string m_strAutoFailure;
};
