#pragma once
// The updater's ports on Win32: WinINet, the files of the folder upgrade.exe sits in, the
// program's processes, and the hand-over record "upgrade.ini" there.
#include "updater.h"

class CWin32UpdaterPorts : public IUpdaterPorts {
 public:
  explicit CWin32UpdaterPorts(const std::string& folder) : m_strFolder(folder) {}
  bool Download(const std::string& url, uint64_t limit, std::string& body) override;
  bool Exists(const std::string& name) override;
  bool Write(const std::string& name, const std::string& bytes) override;
  bool Copy(const std::string& from, const std::string& to) override;
  bool Move(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& name) override;
  bool EmptyFolder(const std::string& name) override;
  bool WaitProgramEnded(int seconds) override;
  bool StartProgram(int watchSeconds) override;
  std::string RecordValue(const std::string& key) override;
  void SetRecordValue(const std::string& key, const std::string& value) override;
  int64_t Now() override;

 private:
  std::string Path(const std::string& name) const { return m_strFolder + "\\" + name; }
  bool ProgramRuns();

  std::string m_strFolder;
};

// The folder of the running executable.
std::string OwnFolder();
