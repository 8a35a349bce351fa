#pragma once
#include "config/config_keeper.h"
#include "config/daily_log_win32.h"
#include "config/profile_store.h"

// The system's private-profile functions themselves. Their wide forms, with the text converted
// from and to the ANSI code page exactly as the ANSI forms convert it: those refuse values of
// 32 K characters or more (and some versions crash on them). Reads use a buffer that grows until
// the value fits. The file itself stays ANSI.
class CWin32ProfileFunctions : public IProfileStore {
 public:
  std::string Get(const std::string& file, const std::string& section, const std::string& key) override;
  bool Put(const std::string& file, const std::string& section, const std::string& key,
           const std::string& value) override;
  bool Has(const std::string& file, const std::string& section, const std::string& key) override;
};

// Whole files through CreateFileA / WriteFile / FlushFileBuffers / MoveFileExA.
class CWin32ConfigFiles : public IConfigFiles {
 public:
  bool Read(const std::string& path, std::string& bytes) override;
  bool WriteThrough(const std::string& path, const std::string& bytes) override;
  bool Replace(const std::string& from, const std::string& to) override;
  void Remove(const std::string& path) override;
};

// The program's configuration store: the profile functions, with the good copy of
// .\tavrick.cfg kept beside it and restores logged in the log folder. Every writer of the
// configuration goes through one of these.
class CWin32ProfileStore : public IProfileStore {
 public:
  CWin32ProfileStore();
  CWin32ProfileStore(const CWin32ProfileStore&) = delete;
  CWin32ProfileStore& operator=(const CWin32ProfileStore&) = delete;
  std::string Get(const std::string& file, const std::string& section, const std::string& key) override;
  bool Put(const std::string& file, const std::string& section, const std::string& key,
           const std::string& value) override;
  bool Has(const std::string& file, const std::string& section, const std::string& key) override {
    return m_keeper.Has(file, section, key);
  }
  void BeforeLoad(const std::string& file) override { m_keeper.BeforeLoad(file); }
  void AfterLoad(const std::string& file) override { m_keeper.AfterLoad(file); }

 private:
  CWin32ProfileFunctions m_profile;
  CWin32ConfigFiles m_files;
  CWin32LogFileSystem m_log;
  CConfigKeeper m_keeper;
};
