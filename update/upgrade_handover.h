#pragma once
// The start-up check: when the service names a newer version, or this build's width is not the
// system's, have the updater download and check the build into upgrade.new while this program
// goes on protecting, then hand over to the updater and end. Guarded so that a broken update can neither end
// the program without an updater to replace it nor restart it over and over: a hand-over is
// recorded beside the program first, and the same version and width is not handed over to again
// within a day.
#include <cstdint>
#include <string>
#include <utility>

#include "alerts/service_ports.h"
#include "config/profile_store.h"

constexpr const char kUpgradeRecordFile[] = "upgrade.ini";  // beside the program
constexpr int64_t kHandOverRetrySeconds = 86400;
constexpr int kStageSeconds = 3600;  // the whole download of a build, before it is given up

// The last hand-over: written by the program before the updater runs; the updater adds its
// result ("installed" or "failed") and reason.
struct CUpgradeRecord {
  std::string strVersion;  // the version handed over for
  int nBits = 0;           // width of the build asked for
  std::string strFrom;     // the version that handed over
  int64_t tTime = 0;
  std::string strResult;
  std::string strReason;
};

// The updater's states in "result" (it writes them; see upgrader/updater.h).
constexpr const char kResultInstalling[] = "installing";  // files half replaced
constexpr const char kResultStarting[] = "starting";      // the new build is starting: it confirms

CUpgradeRecord ReadUpgradeRecord(IProfileStore& store, const std::string& file);
// What the last failed stage of the updater said (upgrader/updater.h, kStageReasonKey).
std::string ReadStageReason(IProfileStore& store, const std::string& file);

// A start by the updater after a replacement: the record says "starting", and this copy writes
// "confirmed" (its version) so the updater keeps it: once its window stands, or, when the old
// program protected ("protect" 1), only once protection runs. True when written.
bool ConfirmUpdatedStart(IProfileStore& store, const std::string& file, const std::string& ownVersion,
                         bool protecting);

// The updater waits for this start to protect: an automatic start that fails ends the program
// with kRollBackExitCode instead of trying again later.
bool UpdatedStartAwaitsProtection(IProfileStore& store, const std::string& file);
constexpr int kRollBackExitCode = 3;

// An update was cut off while files were replaced (and no updater is at work on it).
bool UpdateInterrupted(IProfileStore& store, const std::string& file);

// At the hand-over's end, on the window's thread: whether the successor must start protecting.
bool WriteProtectCarryOver(IProfileStore& store, const std::string& file, bool resume);
bool WriteUpgradeRecord(IProfileStore& store, const std::string& file, const CUpgradeRecord& record);

// The program did not end for the updater after all (an exit was confirmed meanwhile): the
// record no longer tells of a hand-over, so it does not hold the next one back for a day.
bool WithdrawHandOver(IProfileStore& store, const std::string& file);

// The same version and width was handed over to less than a day ago (either way of the clock).
bool HandedOverRecently(const CUpgradeRecord& record, const std::string& latest, int bits, int64_t now);

std::string UpgradeFailedText(const std::string& latest);   // "升级到2.40失败,请下载最新版本"
std::string UpdaterMissingText(const std::string& latest);  // "无法启动upgrade.exe,最新版本:2.40"

struct CUpgradeDecision {
  bool bUpgrade = false;
  std::string strLatest;
  std::string strArguments;
};

// An empty answer, or a version field that is no number above 0, is unusable: nothing happens.
CUpgradeDecision DecideUpgrade(const std::string& answer, const std::string& baseUrl, const std::string& ownVersion,
                               int buildBits, int systemBits);

class IUpgradePorts {
 public:
  virtual ~IUpgradePorts() = default;
  virtual int SystemBits() = 0;
  virtual int64_t Now() = 0;
  virtual CUpgradeRecord ReadRecord() = 0;
  virtual bool WriteRecord(const CUpgradeRecord& record) = 0;
  // Runs the updater's stage (upgrade.exe /stage, upgrader/updater.h) from the program's own
  // folder with this command line and waits for it, at most kStageSeconds (then it is ended);
  // Staged when every file is in upgrade.new and checked.
  // Failed fills `reason` with what the stage said (or that it was ended at the bound).
  enum class EStage { Staged, Failed, NoUpdater };
  virtual EStage StageUpdate(const std::string& commandLine, std::string& reason) = 0;
  // Creates the updater from the program's own folder with this command line, not yet running;
  // false when it cannot be started.
  virtual bool PrepareUpdater(const std::string& commandLine) = 0;
  virtual void CancelUpdater() = 0;
  virtual void RemoveTrayIcon() = 0;
  // Lets the updater run and ends this process (returns only under test).
  virtual void RunUpdaterAndEnd() = 0;
  virtual void ShowStatus(const std::string& text) = 0;
  // A line of the program's own log (the day's "cfg" file), without time or line end.
  virtual void Log(const std::string& line) = 0;
};

// StageFailed: the download or its check failed or was cut off; nothing was recorded, so the next
// start tries again.
enum class EUpgradeOutcome { NoUpgrade, HandedOver, RecentlyHandedOver, StageFailed, UpdaterMissing, NotRecorded };

class CUpgradeCheck {
 public:
  CUpgradeCheck(IHttpPort& http, IUpgradePorts& ports, std::string baseUrl, std::string ownVersion, int buildBits)
      : m_http(http), m_ports(ports), m_strBase(std::move(baseUrl)), m_strOwn(std::move(ownVersion)), m_nBuildBits(buildBits) {}
  EUpgradeOutcome Run();

 private:
  IHttpPort& m_http;
  IUpgradePorts& m_ports;
  std::string m_strBase;
  std::string m_strOwn;
  int m_nBuildBits;
};
