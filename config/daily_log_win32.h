#pragma once
#include "config/daily_log.h"

// The log files through the system: CreateFileA / FindFirstFileA / DeleteFileA, and local
// time through FileTimeToLocalFileTime.
class CWin32LogFileSystem : public ILogFileSystem {
 public:
  bool IsDirectory(const std::string& path) override;
  bool CreateFolder(const std::string& path) override;
  bool AppendToFile(const std::string& path, const std::string& bytes) override;
  bool ListFolder(const std::string& folder, std::vector<CFolderEntry>& entries) override;
  bool LastWriteLocal(const std::string& path, int64_t& seconds) override;
  bool RemoveFile(const std::string& path) override;
  bool IsReparsePoint(const std::string& path) override;
  int64_t LocalNow() override;
};
