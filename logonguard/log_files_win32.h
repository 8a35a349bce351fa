#pragma once
// The FTP log folder as the follower reads it. IIS keeps the day's file open while it writes,
// so files are opened for reading with every kind of sharing allowed.
#include <string>
#include <vector>

#include "logonguard/log_follower.h"

class CWin32LogFilePort : public ILogFilePort {
 public:
  bool ListLogFiles(const std::string& folder, std::vector<std::string>& names) override;
  bool FileSize(const std::string& folder, const std::string& name, uint64_t& size) override;
  bool ReadAt(const std::string& folder, const std::string& name, uint64_t offset, size_t maxBytes,
              std::string& out) override;
};

// The subfolders of folder whose names begin with "FTPSVC" (IIS makes one per FTP site), at most max.
std::vector<std::string> FtpSiteFolders(const std::string& folder, size_t max);
bool IsFolder(const std::string& path);
