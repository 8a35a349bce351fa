#include "webguard/webguard_ports_win32.h"

#include <memory>
#include <vector>

HMODULE g_hScriptLib = nullptr;

const char kScriptLibraryName[] = "scriptviruslib.dll";
const char kScriptLibraryExport[] = "getscriptviruslib";

namespace {

using GetScriptVirusLib = int (*)(const char** list);
constexpr UINT kGbkCodePage = 936;

struct CHandleCloser {
  void operator()(HANDLE h) const { CloseHandle(h); }
};

std::string AnsiText(const wchar_t* text, int units) {
  const int length = WideCharToMultiByte(CP_ACP, 0, text, units, nullptr, 0, nullptr, nullptr);
  std::string converted(static_cast<size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) WideCharToMultiByte(CP_ACP, 0, text, units, &converted[0], length, nullptr, nullptr);
  return converted;
}

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

}  // namespace

std::u16string ExtendedPath(const std::u16string& path) {
  // The "\\?\" form names exactly the file that is there: no cut at MAX_PATH, and no
  // reading of a name such as "nul.php", "con.asp" or "x.php." as a device or as another name.
  if (path.compare(0, 4, u"\\\\?\\") == 0 || path.compare(0, 4, u"\\\\.\\") == 0) return path;
  std::u16string full = path;
  for (char16_t& c : full) {
    if (c == u'/') c = u'\\';
  }
  std::u16string prefix, rest;
  if (full.compare(0, 2, u"\\\\") == 0) {
    prefix = u"\\\\?\\UNC\\";
    rest = full.substr(2);
  } else if (full.size() > 2 && full[1] == u':' && full[2] == u'\\') {
    prefix = u"\\\\?\\" + full.substr(0, 3);
    rest = full.substr(3);
  } else {
    return path;  // relative: as the system resolves it
  }
  // The form takes no "." or ".." parts, nor empty ones: they are resolved here by their text.
  std::vector<std::u16string> parts;
  size_t at = 0;
  while (at <= rest.size()) {
    size_t next = rest.find(u'\\', at);
    if (next == std::u16string::npos) next = rest.size();
    const std::u16string part = rest.substr(at, next - at);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(part);
    }
    at = next + 1;
  }
  std::u16string extended = prefix;
  for (size_t i = 0; i < parts.size(); ++i) extended += (i ? u"\\" : u"") + parts[i];
  if (!rest.empty() && rest.back() == u'\\') extended += u'\\';
  return extended;
}

namespace {

std::u16string OpenPath(IWebFileSystem& files, const CWebFile& file) {
  return ExtendedPath(file.wstrPath.empty() ? files.WidePath(file.strPath) : file.wstrPath);
}

}  // namespace

void CreateWatchFileMutex() {
  if (!g_hWatchFileMutex) g_hWatchFileMutex = CreateMutexA(nullptr, FALSE, nullptr);
}

void LoadScriptLibrary() {
  if (!g_hScriptLib) g_hScriptLib = LoadLibraryA(kScriptLibraryName);
}

void FreeScriptLibrary() {
  if (g_hScriptLib) FreeLibrary(g_hScriptLib);
  g_hScriptLib = nullptr;
}

HANDLE WatchFileWakeEvent() {
  static const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return event;
}

void WakeWatchFileChecker() {
  if (const HANDLE event = WatchFileWakeEvent()) SetEvent(event);
}

void CWatchFileWake::Arm() {
  if (const HANDLE event = WatchFileWakeEvent()) ResetEvent(event);
}

void CWatchFileWake::Wait(int maxMilliseconds) {
  const HANDLE event = WatchFileWakeEvent();
  if (event) {
    WaitForSingleObject(event, static_cast<DWORD>(maxMilliseconds));
  } else {
    Sleep(kCheckerPauseMs);  // no event: the checker polls as it did without one
  }
}

void CWatchFileMutexLock::Lock() { WaitForSingleObject(g_hWatchFileMutex, INFINITE); }

void CWatchFileMutexLock::Unlock() { ReleaseMutex(g_hWatchFileMutex); }

bool CWin32WebFileSystem::Missing(const CWebFile& file) {
  if (GetFileAttributesW(Wide(OpenPath(*this, file))) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool CWin32WebFileSystem::ReadPieces(const CWebFile& file, const std::function<bool(const char*, size_t)>& sink) {
  // Shared for writing and deleting: the uploader and the site keep working on the file.
  // Backup semantics: an administrator's backup right reads files whatever their access list.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const HANDLE opened = CreateFileW(Wide(OpenPath(*this, file)), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return false;
  std::unique_ptr<void, CHandleCloser> handle(opened);
  std::unique_ptr<char[]> buffer(new char[kReadPieceSize]);
  for (;;) {
    DWORD got = 0;
    // A failed read (a folder, a locked range, a vanished network) is a file not read.
    if (!ReadFile(opened, buffer.get(), static_cast<DWORD>(kReadPieceSize), &got, nullptr)) return false;
    if (got == 0 || !sink(buffer.get(), got)) break;
  }
  return true;
}

bool CWin32WebFileSystem::Enumerate(const CWebFile& pattern, std::vector<CFolderEntry>* entries) {
  if (pattern.wstrPath.empty()) {
    WIN32_FIND_DATAA data{};
    const HANDLE find = FindFirstFileA(pattern.strPath.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
      CFolderEntry entry;
      entry.strName = data.cFileName;
      entry.bDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      entry.bReparsePoint = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      entries->push_back(std::move(entry));
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return true;
  }
  WIN32_FIND_DATAW data{};
  const HANDLE find = FindFirstFileW(Wide(ExtendedPath(pattern.wstrPath)), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    CFolderEntry entry;
    entry.strName = AnsiText(data.cFileName, -1);
    if (!entry.strName.empty() && entry.strName.back() == '\0') entry.strName.pop_back();
    entry.wstrName = reinterpret_cast<const char16_t*>(data.cFileName);
    entry.bDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.bReparsePoint = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entries->push_back(std::move(entry));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return true;
}

std::u16string CWin32WebFileSystem::WidePath(const std::string& path) {
  const int units = MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::u16string wide(static_cast<size_t>(units > 0 ? units : 0), u'\0');
  if (units > 0) {
    MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), reinterpret_cast<wchar_t*>(&wide[0]),
                        units);
  }
  return wide;
}

void CWin32WebFileSystem::AppendGbk(const char16_t* units, size_t count, std::string* out) {
  const auto* text = reinterpret_cast<const wchar_t*>(units);
  const int length = WideCharToMultiByte(kGbkCodePage, 0, text, static_cast<int>(count), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return;
  const size_t at = out->size();
  out->resize(at + static_cast<size_t>(length));
  WideCharToMultiByte(kGbkCodePage, 0, text, static_cast<int>(count), &(*out)[at], length, nullptr, nullptr);
}

CWebFile CWin32WebFileSystem::LongPath(const CWebFile& file) {
  const std::u16string path = OpenPath(*this, file);
  const DWORD units = GetLongPathNameW(Wide(path), nullptr, 0);
  if (units == 0) return CWebFile{};
  std::u16string wide(units, u'\0');
  const DWORD got = GetLongPathNameW(Wide(path), reinterpret_cast<wchar_t*>(&wide[0]), units);
  if (got == 0 || got >= units) return CWebFile{};
  wide.resize(got);
  // Back in the form it was asked in.
  if (path.compare(0, 4, u"\\\\?\\") != 0 && wide.compare(0, 4, u"\\\\?\\") == 0) wide.erase(0, 4);
  return CWebFile{AnsiText(reinterpret_cast<const wchar_t*>(wide.c_str()), static_cast<int>(wide.size())), wide};
}

std::string CWin32WebFileSystem::FolderIdentity(const CWebFile& folder) {
  const HANDLE opened = CreateFileW(Wide(OpenPath(*this, folder)), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return std::string();
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(opened, &info) != FALSE;
  CloseHandle(opened);
  if (!known || (info.nFileIndexHigh == 0 && info.nFileIndexLow == 0)) return std::string();
  return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) + ":" +
         std::to_string(info.nFileIndexLow);
}

CWin32ScriptLibrary::CWin32ScriptLibrary() {
  if (!g_hScriptLib) return;
  // A reference of our own to the same module: it stays loaded until this port goes.
  HMODULE module = nullptr;
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(g_hScriptLib), &module)) {
    m_hModule = module;
  }
}

CWin32ScriptLibrary::~CWin32ScriptLibrary() {
  if (m_hModule) FreeLibrary(m_hModule);
}

bool CWin32ScriptLibrary::FetchSignatures(const char** entries, int* count) {
  if (!m_hModule) return false;
  const auto fetch = reinterpret_cast<GetScriptVirusLib>(
      reinterpret_cast<void*>(GetProcAddress(m_hModule, kScriptLibraryExport)));
  if (!fetch) return false;
  *count = fetch(entries);
  return true;
}
