#include "config/daily_log_win32.h"

#include <windows.h>

namespace {

constexpr int64_t kFileTimeTicksPerSecond = 10000000;
constexpr int64_t kFileTimeToUnixSeconds = 11644473600;

int64_t LocalSecondsOf(const FILETIME& utc) {
  FILETIME local;
  if (!FileTimeToLocalFileTime(&utc, &local)) local = utc;
  const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(local.dwHighDateTime) << 32) |
                                             local.dwLowDateTime);
  return ticks / kFileTimeTicksPerSecond - kFileTimeToUnixSeconds;
}

}  // namespace

bool CWin32LogFileSystem::IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CWin32LogFileSystem::CreateFolder(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

bool CWin32LogFileSystem::AppendToFile(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = SetFilePointer(h, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
  DWORD written = 0;
  ok = ok && WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
       written == bytes.size();
  CloseHandle(h);
  return ok;
}

bool CWin32LogFileSystem::ListFolder(const std::string& folder, std::vector<CFolderEntry>& entries) {
  entries.clear();
  const bool endsWithSlash = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
  const std::string pattern = folder + (endsWithSlash ? "*.*" : "\\*.*");
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  do {
    CFolderEntry entry;
    entry.strName = data.cFileName;
    entry.bDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.bReparsePoint = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entries.push_back(entry);
  } while (FindNextFileA(h, &data));
  FindClose(h);
  return true;
}

bool CWin32LogFileSystem::LastWriteLocal(const std::string& path, int64_t& seconds) {
  // Directories open too (backup semantics); deletion by others is not blocked meanwhile.
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME written;
  const bool ok = GetFileTime(h, nullptr, nullptr, &written) != FALSE;
  CloseHandle(h);
  if (ok) seconds = LocalSecondsOf(written);
  return ok;
}

bool CWin32LogFileSystem::RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != FALSE; }

bool CWin32LogFileSystem::IsReparsePoint(const std::string& path) {
  // With a trailing backslash the name would be taken as the folder the link leads to.
  std::string name = path;
  while (name.size() > 1 && (name.back() == '\\' || name.back() == '/')) name.pop_back();
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

int64_t CWin32LogFileSystem::LocalNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return LocalSecondsOf(now);
}
