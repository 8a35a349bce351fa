#pragma once
// Start-up of the process: one copy per machine, the restart words, then the main window.
#include <string>

// "Global\tavrick": one name for the whole machine, so administrators in two remote desktop
// sessions never get two copies driving one driver and one configuration. The installer and the
// updater look for the program under the same name.
extern const char kInstanceMutexName[];
// Its access list: administrators and the system may do everything (so a copy of another
// administrator's session opens it and sees it taken), everyone else only wait on it.
extern const char kInstanceMutexSddl[];
extern const char kAlreadyRunningText[];  // "已经运行一个程序,不能重复运行!"
extern const char kStartupFailedText[];   // "工程异常!"

// The boot service's words for the copy it starts in the services' session. That copy is the
// one a hand-over takes protection from; when it finds another copy already there (an
// administrator's), it ends without a word (nobody could answer a box there).
extern const char kServiceCopyWords[];  // "rebootup service"
constexpr int kServiceCopyRefusedExitCode = 4;
// Exit code of the boot service's copy that handed protection over to an administrator's.
constexpr int kHandedOverExitCode = 5;
// How long an administrator's copy waits for the service's copy to save its state.
constexpr int kHandOverWaitSeconds = 30;

// Exit code of a copy whose start-up failed (its window could not be made, or start-up threw),
// so that whoever started it (the updater) sees the failure.
constexpr int kStartupFailedExitCode = 3;

// What start-up needs from the system.
class IStartupPorts {
 public:
  virtual ~IStartupPorts() = default;
  // Creates (or opens) the machine-wide mutex of that name with kInstanceMutexSddl and keeps the
  // handle for the life of the process; true when the name was already taken, also when it
  // exists but may not be opened (another account's copy holds it).
  virtual bool CreateInstanceMutex(const std::string& name) = 0;
  // Lets the handle go again: a refused start, before it says so.
  virtual void CloseInstanceMutex() = 0;
  // An update was cut off while it replaced files (the updater died): hands the folder to the
  // updater, which puts the old files back and starts the old program. True when this copy must
  // end now for that.
  virtual bool HandInterruptedUpdateToUpdater() = 0;
  // The name is held: asks the boot service's copy, if that is the one holding it, to hand
  // protection over to this copy. True when such a copy was there and was asked.
  virtual bool AskServiceCopyToHandOver() = 0;
  // Waits (at most `seconds`) until that copy has written its lists and carried-over state and
  // let its packet filter go where the filter allows only one client; false when it never did.
  virtual bool WaitForHandOver(int seconds) = 0;
  // The boot service's copy: lets an administrator's copy ask it to hand over, and marks the
  // copies it starts itself (its self-restart, the updater and the build that one starts) as
  // the service's too.
  virtual void OfferHandOver() = 0;
  // This copy was started by the boot service's copy or its updater (that mark).
  virtual bool StartedByServiceCopy() = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  virtual void EnableControlHosting() = 0;
  // Modal, for the whole working life of the program; false when the window could not be made.
  virtual bool RunMainDialog() = 0;
};

// Set by the command word "rebootup"; the main window clears it with the first automatic start.
extern bool g_bRebootUp;
// This copy was started by the boot service, or by its copy's restart or update (and offers the
// hand-over).
extern bool g_bServiceCopy;
// This copy took protection over from the boot service's copy (which waits for it to protect).
extern bool g_bTookOver;

// The instance initialisation; always false, so the process ends after it. The process's exit
// code goes to *exitCode: 0, or kStartupFailedExitCode.
bool InitInstance(const std::string& commandLine, IStartupPorts& ports, int* exitCode = nullptr);
