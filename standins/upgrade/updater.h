#pragma once
// The updater's work, apart from the system: fetch the build a folder of the vendor service
// publishes, check every file's size and digest, wait for the program to end, put the new files
// in place with a rollback copy of the old ones, and bring a program back up in every case.
#include <cstdint>
#include <string>
#include <vector>

#include "build_manifest.h"

class IUpdaterPorts {
 public:
  virtual ~IUpdaterPorts() = default;
  // GET: true with the body when the service answered 200 and the transfer ended normally
  // within `limit` bytes.
  virtual bool Download(const std::string& url, uint64_t limit, std::string& body) = 0;
  // Files by name inside the program's folder ("tavrick.exe", "upgrade.new\\tavrick.exe").
  virtual bool Exists(const std::string& name) = 0;
  virtual bool Write(const std::string& name, const std::string& bytes) = 0;
  virtual bool Copy(const std::string& from, const std::string& to) = 0;  // replaces `to`
  virtual bool Move(const std::string& from, const std::string& to) = 0;  // replaces `to`
  virtual bool Remove(const std::string& name) = 0;
  virtual bool EmptyFolder(const std::string& name) = 0;  // created when missing
  // Waits until no copy of the program from this folder runs; false if one still does.
  virtual bool WaitProgramEnded(int seconds) = 0;
  // Starts the program without words; true when it came up: still running after watchSeconds,
  // or ended by itself with exit code 0 (a program that hands over again ends that way).
  virtual bool StartProgram(int watchSeconds) = 0;
  // The hand-over record beside the program (the program writes version, bits, from, time).
  virtual std::string RecordValue(const std::string& key) = 0;
  virtual void SetRecordValue(const std::string& key, const std::string& value) = 0;
  virtual int64_t Now() = 0;
};

constexpr const char kStagingFolder[] = "upgrade.new";
constexpr const char kRollbackFolder[] = "upgrade.old";
constexpr int kProgramEndSeconds = 60;  // the program ends itself right after the hand-over
constexpr int kNewProgramWatchSeconds = 5;

// The text after the program's own name and one blank ("upgrade.exe A,B" gives "A,B"); a quoted
// name counts as one word.
std::string CommandArguments(const std::string& commandLine);

// The arguments' first field when it is the http address of a new-build folder
// (".../tavrick/newsoft/x86/" or ".../x64/"); "" otherwise.
std::string BuildFolderOf(const std::string& arguments);

class CUpdater {
 public:
  explicit CUpdater(IUpdaterPorts& ports) : m_ports(ports) {}
  // 0 when the new build runs; 1 when the old program was kept (and started again).
  int Run(const std::string& commandLine);

 private:
  bool Fetch(const std::string& folderUrl, CBuildManifest& manifest, std::string& reason);
  bool CheckVersion(const CBuildManifest& manifest, std::string& reason);
  bool Install(const CBuildManifest& manifest, std::string& reason);
  void Restore(const CBuildManifest& manifest, size_t count);
  int Finish(bool installed, const std::string& reason);

  IUpdaterPorts& m_ports;
  std::vector<bool> m_hadFile;  // per manifest file: an old copy exists in the rollback folder
};
