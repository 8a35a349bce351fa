#pragma once
// The updater's ports on Win32: WinINet, the files of the folder upgrade.exe sits in, the
// program's processes, and the hand-over record "upgrade.ini" there.
#include <windows.h>

#include "upgrader/updater.h"

constexpr const char kProgramMutexName[] = "Global\\tavrick";        // the program's single-instance name
constexpr const char kUpdaterMutexName[] = "Global\\tavrick-upgrade";  // one updater at a time

class CWin32UpdaterPorts : public IUpdaterPorts {
 public:
  explicit CWin32UpdaterPorts(const std::string& folder) : m_strFolder(folder) {}
  ~CWin32UpdaterPorts() override { ReleaseProgramName(); }
  CWin32UpdaterPorts(const CWin32UpdaterPorts&) = delete;
  CWin32UpdaterPorts& operator=(const CWin32UpdaterPorts&) = delete;
  bool Download(const std::string& url, uint64_t limit, std::string& body) override;
  bool Exists(const std::string& name) override;
  bool Read(const std::string& name, std::string& bytes) override;
  bool Write(const std::string& name, const std::string& bytes) override;
  bool Copy(const std::string& from, const std::string& to) override;
  bool Move(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& name) override;
  bool EmptyFolder(const std::string& name) override;
  bool UseFolder(const std::string& name) override;
  bool WaitProgramEnded(int seconds) override;
  bool StartProgram(const std::string& words, int confirmSeconds) override;
  std::string RecordValue(const std::string& key) override;
  void SetRecordValue(const std::string& key, const std::string& value) override;
  int64_t Now() override;

 private:
  std::string Path(const std::string& name) const { return m_strFolder + "\\" + name; }
  bool ProgramRuns(bool end);
  bool TakeProgramName();
  void ReleaseProgramName();

  std::string m_strFolder;
  HANDLE m_hProgramName = nullptr;
};

// The folder of the running executable.
std::string OwnFolder();

// What upgrade.exe does with these ports: one updater at a time (a second waits for the first
// and gives up after a bound, bringing the program back), then the run its command line asks.
// A stage, started by the running program, neither waits for nor holds the updaters' name.
int RunUpdaterProcess(IUpdaterPorts& ports);
