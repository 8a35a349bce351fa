#include "logonguard/log_files_win32.h"

#include <windows.h>

namespace {

constexpr size_t kMaxLogFiles = 4096;  // a folder of more is read by its first ones

// Every kind of sharing: IIS writes the file, and may rename or delete it while it is open here.
HANDLE OpenShared(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
  return folder + "\\" + name;
}

template <class Take>
bool ListMatching(const std::string& pattern, Take take) {
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(pattern.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    if (!take(found)) break;
  } while (FindNextFileA(find, &found));
  FindClose(find);
  return true;
}

}  // namespace

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CWin32LogFilePort::ListLogFiles(const std::string& folder, std::vector<std::string>& names) {
  names.clear();
  if (!IsFolder(folder)) return false;
  return ListMatching(Join(folder, "*.log"), [&](const WIN32_FIND_DATAA& found) {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(found.cFileName);
    return names.size() < kMaxLogFiles;
  });
}

bool CWin32LogFilePort::FileSize(const std::string& folder, const std::string& name, uint64_t& size) {
  HANDLE file = OpenShared(Join(folder, name));
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER length;
  const bool ok = GetFileSizeEx(file, &length) != FALSE;
  CloseHandle(file);
  if (ok) size = static_cast<uint64_t>(length.QuadPart);
  return ok;
}

bool CWin32LogFilePort::ReadAt(const std::string& folder, const std::string& name, uint64_t offset, size_t maxBytes,
                               std::string& out) {
  out.clear();
  HANDLE file = OpenShared(Join(folder, name));
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  bool ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != FALSE;
  if (ok && maxBytes > 0) {
    const DWORD want = maxBytes > 0x100000 ? 0x100000 : static_cast<DWORD>(maxBytes);
    out.resize(want);
    DWORD got = 0;
    ok = ReadFile(file, &out[0], want, &got, nullptr) != FALSE;
    out.resize(ok ? got : 0);
  }
  CloseHandle(file);
  return ok;
}

std::vector<std::string> FtpSiteFolders(const std::string& folder, size_t max) {
  std::vector<std::string> folders;
  ListMatching(Join(folder, "FTPSVC*"), [&](const WIN32_FIND_DATAA& found) {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) folders.push_back(Join(folder, found.cFileName));
    return folders.size() < max;
  });
  return folders;
}
