#include "logonguard/log_files_win32.h"

#include <windows.h>

namespace {

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

EFolderChange CFolderWatch::Poll() {
  if (m_bFailed) return EFolderChange::kUnknown;
  if (m_hChange == INVALID_HANDLE_VALUE) {
    m_hChange = FindFirstChangeNotificationA(m_strFolder.c_str(), FALSE, m_nFilter);
    if (m_hChange == INVALID_HANDLE_VALUE) {
      // A folder that is not there yet is asked again; one that cannot be watched is looked at
      // now and then instead.
      m_bFailed = IsFolder(m_strFolder);
      return m_bFailed ? EFolderChange::kUnknown : EFolderChange::kChanged;
    }
    return EFolderChange::kChanged;
  }
  const DWORD wait = WaitForSingleObject(m_hChange, 0);
  if (wait == WAIT_TIMEOUT) return EFolderChange::kNone;
  // Signalled (or broken, as when the folder was removed): the next notification is asked for,
  // or made again at the next question.
  if (wait != WAIT_OBJECT_0 || !FindNextChangeNotification(m_hChange)) Close();
  return EFolderChange::kChanged;
}

void CFolderWatch::Close() {
  if (m_hChange != INVALID_HANDLE_VALUE) FindCloseChangeNotification(m_hChange);
  m_hChange = INVALID_HANDLE_VALUE;
}

bool CWin32LogFilePort::ListLogFiles(const std::string& folder, const std::function<bool(const CLogFileEntry&)>& take) {
  if (!IsFolder(folder)) {
    m_watches.erase(folder);  // a removed folder is not held open by its notification
    return false;
  }
  CLogFileEntry entry;
  return ListMatching(Join(folder, "*.log"), [&](const WIN32_FIND_DATAA& found) {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
    entry.strName = found.cFileName;
    entry.nWritten = (static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                     found.ftLastWriteTime.dwLowDateTime;
    return take(entry);
  });
}

EFolderChange CWin32LogFilePort::FolderChange(const std::string& folder) {
  auto& watch = m_watches[folder];
  if (!watch) watch.reset(new CFolderWatch(folder, FILE_NOTIFY_CHANGE_FILE_NAME));
  return watch->Poll();
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
