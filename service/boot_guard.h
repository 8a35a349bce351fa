#pragma once
// The boot guard's decisions, apart from the system: whether protection comes back without
// anyone logged on, when a copy of the program may be started, and how fast a copy that keeps
// ending is started again. The service (tavricksvc.exe) runs CBootGuard over its Win32 ports.
#include <cstdint>
#include <string>

class IProfileStore;

// The keys of tavrick.cfg's [sysice] section the guard reads.
//   onlinetime   protection seconds the program writes every second while it protects and sets
//                to "0" at its exit command and at each start's load: not "0" at boot means the
//                last run ended while protecting (power cut, reboot, crash)
//   bootprotect  "1": protect at every boot, whatever the last run did (default "0")
//   adminstop    "1": the administrator stopped protection ("暂停防护") or left the program
//                ("退出软件"); "0" again once protection starts
struct CBootConfig {
  bool bFound = false;  // the [sysice] section was there (in the file or its good copy)
  int64_t llCarriedSeconds = 0;
  bool bBootProtect = false;
  bool bAdminStopped = false;
};

// Reads `file`; a file without the [sysice] onlinetime key (missing, emptied or cut by a write
// that never ended) is read from `goodCopy` instead, the copy the program keeps beside it. The
// guard never writes either: repairs are the program's, at its next load.
CBootConfig ReadBootConfig(IProfileStore& store, const std::string& file, const std::string& goodCopy);

enum class BootDecision {
  kCarriedOver,    // protect: the last run ended while protecting
  kAlwaysAtBoot,   // protect: bootprotect=1
  kStillProtecting,  // protect: it protected since the service started and nobody stopped it
  kAdminStopped,   // not: the administrator's stop or exit stands until protection starts again
  kNotProtecting,  // not: the last run did not end while protecting
  kNoConfig,       // not: no configuration to read
};
BootDecision DecideBootProtection(const CBootConfig& config);
inline bool Protects(BootDecision d) {
  return d == BootDecision::kCarriedOver || d == BootDecision::kAlwaysAtBoot || d == BootDecision::kStillProtecting;
}

// Pause before the next start of a copy that ended or could not be started: 10 s, doubling up
// to 10 minutes; a copy that ran at least 10 minutes starts the count afresh. Restarts never
// stop (a server left unprotected is worse), but they never come faster than this.
class CRestartBackoff {
 public:
  static constexpr int64_t kFirstDelay = 10;
  static constexpr int64_t kMaxDelay = 600;
  static constexpr int64_t kHealthyRun = 600;
  // A copy ended (or failed to start: ranSeconds 0) at `now`; returns the pause before the next.
  int64_t Ended(int64_t now, int64_t ranSeconds);
  // Our copy handed protection over: the next start (once no copy holds the name) is due at once.
  void Reset() {
    m_llDelay = 0;
    m_llNextStart = 0;
  }
  bool Due(int64_t now) const { return now >= m_llNextStart; }
  int64_t NextStart() const { return m_llNextStart; }

 private:
  int64_t m_llDelay = 0;  // the pause given last; 0 before any
  int64_t m_llNextStart = 0;
};

// The program's own words and exit codes, as start-up defines them (the service stands on a
// lower floor than app/): the words of the copy the service starts; the exit of that copy once
// it handed protection over to an administrator's copy, which is no failure and costs no pause.
extern const char kServiceCopyCommandWords[];  // "rebootup service"
constexpr uint32_t kProgramHandedOverExitCode = 5;

class IBootGuardPorts {
 public:
  virtual ~IBootGuardPorts() = default;
  virtual CBootConfig ReadConfig() = 0;
  // A copy of the program holds its machine-wide name (any session, any account).
  virtual bool ProgramRunning() = 0;
  // Starts our copy in the service's session with the automatic start's word; false with the
  // system's error in *error.
  virtual bool StartProgram(uint32_t* error) = 0;
  // Our copy still runs; once it has ended, its exit code.
  virtual bool ChildRunning() = 0;
  virtual uint32_t ChildExitCode() = 0;
  virtual int64_t Now() = 0;  // seconds, never going back
  virtual void Log(const std::string& line) = 0;
};

// One look at the state, at the service's start and then every few seconds and whenever our
// copy ends: starts a copy when protection should run and none does. Once it has decided to
// protect, only the administrator's stop or exit (adminstop) ends that: each start's load sets
// onlinetime to "0", so a copy that ends before it protected again leaves no time behind. A
// name seen taken (a copy restarting itself, the updater replacing files, an administrator's
// copy) must have been free for kSettleSeconds before a copy is started, so a hand-over between
// two copies is never taken for the program's end. Each change of what it finds is logged once.
class CBootGuard {
 public:
  static constexpr int64_t kSettleSeconds = 10;
  explicit CBootGuard(IBootGuardPorts& ports) : m_ports(ports) {}
  void Tick();
  bool HasChild() const { return m_bChild; }

 private:
  enum class Seen { kNothing, kChild, kOtherCopy, kSettling, kNoProtection, kWaiting, kStartFailed };
  void Note(Seen seen, const std::string& line);

  IBootGuardPorts& m_ports;
  CRestartBackoff m_backoff;
  bool m_bChild = false;
  bool m_bProtecting = false;  // it decided to protect; only adminstop undoes that
  int64_t m_llChildStart = 0;
  bool m_bNameSeen = false;
  int64_t m_llNameLastSeen = 0;
  Seen m_lastSeen = Seen::kNothing;
  BootDecision m_lastDecision = BootDecision::kNoConfig;
};

// The log lines (GBK), for the service's day file "svc<date>.txt" in the log folder.
extern const char kBootLogPrefix[];  // "svc"
std::string DecisionText(BootDecision decision, const CBootConfig& config);
