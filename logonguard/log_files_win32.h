#pragma once
// The FTP log folder as the follower reads it. IIS keeps the day's file open while it writes,
// so files are opened for reading with every kind of sharing allowed. Whether a folder's names
// changed comes from a change notification on it (FindFirstChangeNotification), so an idle
// folder is never listed again.
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "logonguard/log_follower.h"

// A change notification on one folder: made at the first question, which answers kChanged.
class CFolderWatch {
 public:
  CFolderWatch(std::string folder, DWORD filter) : m_strFolder(std::move(folder)), m_nFilter(filter) {}
  ~CFolderWatch() { Close(); }
  CFolderWatch(const CFolderWatch&) = delete;
  CFolderWatch& operator=(const CFolderWatch&) = delete;
  EFolderChange Poll();
  // Closes the notification (a folder that went away must not be held open); the next Poll
  // makes it again.
  void Close();

 private:
  std::string m_strFolder;
  DWORD m_nFilter;
  HANDLE m_hChange = INVALID_HANDLE_VALUE;
  bool m_bFailed = false;  // the notification could not be made: the folder cannot be watched
};

class CWin32LogFilePort : public ILogFilePort {
 public:
  bool ListLogFiles(const std::string& folder, const std::function<bool(const CLogFileEntry&)>& take) override;
  bool FileSize(const std::string& folder, const std::string& name, uint64_t& size) override;
  bool ReadAt(const std::string& folder, const std::string& name, uint64_t offset, size_t maxBytes,
              std::string& out) override;
  EFolderChange FolderChange(const std::string& folder) override;
  // The folder is no longer followed: its notification is closed.
  void Unwatch(const std::string& folder) { m_watches.erase(folder); }

 private:
  std::map<std::string, std::unique_ptr<CFolderWatch>> m_watches;
};

// The subfolders of folder whose names begin with "FTPSVC" (IIS makes one per FTP site), at most max.
std::vector<std::string> FtpSiteFolders(const std::string& folder, size_t max);
bool IsFolder(const std::string& path);
