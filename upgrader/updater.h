#pragma once
// The updater's work, apart from the system: fetch the build a folder of the vendor service
// publishes, check the vendor's signature of its manifest (upgrader/build_signature.h) and then
// every file's size and digest, wait for the program to end, put the new files
// in place with a rollback copy of the old ones, and bring a program back up in every case.
//
// "upgrade.exe /stage <version> <from> <build folder>,<fields>" only stages: the running program
// has every file downloaded and checked into upgrade.new before it hands over, while it keeps
// protecting. A stage never waits for or takes the program's name, never touches the record or a
// file beside the program, and ends with kStagedExitCode or kStageFailedExitCode. The install after
// the hand-over keeps a staged file only when it matches the signed manifest again and downloads
// the others, so a staged file cut short or changed meanwhile is never installed.
//
// The hand-over record ("upgrade.ini") tells every later start where an update stands:
//   result "installing"  files are being replaced (set before the first move; "old" and "new"
//                        list the names with and without a rollback copy in upgrade.old\)
//   result "starting"    every file is in place and the new build is starting; it writes
//                        "confirmed" once its window exists
//   result "installed" / "failed" with "reason" and "finished"
// An updater or a program that finds "installing" at its start restores the old files first.
#include <cstdint>
#include <string>
#include <vector>

#include "upgrader/build_manifest.h"

class IUpdaterPorts {
 public:
  virtual ~IUpdaterPorts() = default;
  // GET: true with the body when the service answered 200 and the transfer ended normally
  // within `limit` bytes and one deadline for the whole request (connect, send, headers, body).
  virtual bool Download(const std::string& url, uint64_t limit, std::string& body) = 0;
  // Files by name inside the program's folder ("tavrick.exe", "upgrade.new\\tavrick.exe").
  virtual bool Exists(const std::string& name) = 0;
  // The whole file; false when it cannot be read.
  virtual bool Read(const std::string& name, std::string& bytes) = 0;
  virtual bool Write(const std::string& name, const std::string& bytes) = 0;
  virtual bool Copy(const std::string& from, const std::string& to) = 0;  // replaces `to`
  virtual bool Move(const std::string& from, const std::string& to) = 0;  // replaces `to`
  virtual bool Remove(const std::string& name) = 0;  // true also when it was not there
  // Created when missing; false, with nothing deleted, when it is a junction or folder link.
  virtual bool EmptyFolder(const std::string& name) = 0;
  // Created when missing, its files kept; false when it is a junction or folder link.
  virtual bool UseFolder(const std::string& name) = 0;
  // Waits until the program's single-instance name is free and takes it, so that no copy starts
  // while files are replaced, then ends any copy still running (one refused the name, waiting
  // on its message box); false if the name is still held after `seconds`.
  virtual bool WaitProgramEnded(int seconds) = 0;
  // Lets the name go and starts the program with these command words. With confirmSeconds 0
  // true when it was created. Otherwise true only when it confirmed its start in the record
  // ("confirmed") within that time; a copy that did not is ended, and false.
  virtual bool StartProgram(const std::string& words, int confirmSeconds) = 0;
  // The hand-over record beside the program (the program writes version, bits, from, time,
  // protect).
  virtual std::string RecordValue(const std::string& key) = 0;
  virtual void SetRecordValue(const std::string& key, const std::string& value) = 0;
  virtual int64_t Now() = 0;
};

constexpr const char kStagingFolder[] = "upgrade.new";
constexpr const char kRollbackFolder[] = "upgrade.old";
constexpr const char kRestoreWord[] = "restore";  // "upgrade.exe restore": put the old build back
constexpr const char kStageWord[] = "/stage";     // "upgrade.exe /stage ...": only download and check
constexpr int kStagedExitCode = 0;
constexpr int kStageFailedExitCode = 1;
// A failed stage leaves its reason in upgrade.ini under this key, for the program's log; nothing
// else of the record is touched by a stage.
constexpr const char kStageReasonKey[] = "stagereason";
constexpr int kProgramEndSeconds = 60;  // the program ends itself right after the hand-over
constexpr int kNewProgramConfirmSeconds = 60;
constexpr int kOtherUpdaterWaitSeconds = 600;  // a second updater waits this long for the first

// The text after the program's own name and one blank ("upgrade.exe A,B" gives "A,B"); a quoted
// name counts as one word.
std::string CommandArguments(const std::string& commandLine);

// The arguments' first field when it is the http address of a new-build folder
// (".../tavrick/newsoft/x86/" or ".../x64/"); "" otherwise.
std::string BuildFolderOf(const std::string& arguments);

// Whether the arguments ask for a stage only.
bool IsStageArguments(const std::string& arguments);

class CUpdater {
 public:
  explicit CUpdater(IUpdaterPorts& ports) : m_ports(ports) {}
  // 0 when the new build runs; 1 when the old program was kept (and started again).
  int Run(const std::string& commandLine);
  // Another updater held the folder too long: this one gives up and brings the program back.
  int GiveUpWaiting();

 private:
  int Stage(const std::string& arguments);
  bool Fetch(const std::string& folderUrl, const std::string& wanted, const std::string& from,
             CBuildManifest& manifest, std::string& reason);
  bool StageFile(const std::string& folderUrl, const CBuildFile& file, std::string& reason);
  bool CheckVersion(const CBuildManifest& manifest, const std::string& wanted, const std::string& from,
                    std::string& reason);
  bool Install(const CBuildManifest& manifest, std::string& reason);
  bool RestoreRecorded(std::string& failed);
  int RecoverInterrupted(bool onlyRestore);
  std::string ProgramWords();
  int Finish(bool installed, const std::string& reason);

  IUpdaterPorts& m_ports;
};
