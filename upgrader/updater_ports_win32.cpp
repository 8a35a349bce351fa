#include "upgrader/updater_ports_win32.h"

#include <windows.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <ctime>
#include <vector>

#include "common/cutoff_http_win32.h"

namespace {

constexpr char kRecordFile[] = "upgrade.ini";
constexpr char kRecordSection[] = "upgrade";

// Long form, so that an 8.3 name and its long name compare equal.
std::string LongPath(const std::string& path) {
  char buffer[MAX_PATH] = {};
  const DWORD n = GetLongPathNameA(path.c_str(), buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(buffer, n) : path;
}

constexpr DWORD kConnectMs = 15000;

// The whole request, from the connect to the body's last byte: half a minute, and one more
// second for every 16 KB the file may hold.
uint32_t DownloadDeadlineMs(uint64_t limit) {
  const uint64_t ms = 30000 + limit / 16;
  return ms < 0xFFFFFFF0u ? static_cast<uint32_t>(ms) : 0xFFFFFFF0u;
}

}  // namespace

std::string OwnFolder() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string full(path, n);
  const size_t slash = full.find_last_of('\\');
  return slash == std::string::npos ? "." : full.substr(0, slash);
}

// Through the program's cut-off client: a server that is silent, trickles its headers or its body
// is cut off at the deadline, so the program is always brought back within a bound.
bool CWin32UpdaterPorts::Download(const std::string& url, uint64_t limit, std::string& body) {
  const CCutOffRequest request{"tavrick-upgrade", kConnectMs, DownloadDeadlineMs(limit),
                               static_cast<size_t>(limit)};
  CCutOffAnswer answer = CutOffGet(url, request);
  body.swap(answer.strBody);
  return answer.reach == ERequestReach::kStatus && answer.nStatus == 200 && answer.bComplete;
}

bool CWin32UpdaterPorts::Exists(const std::string& name) {
  const DWORD attributes = GetFileAttributesA(Path(name).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CWin32UpdaterPorts::Read(const std::string& name, std::string& bytes) {
  bytes.clear();
  HANDLE file = CreateFileA(Path(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size = {};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart >= 0 && size.QuadPart < (1LL << 31);
  if (ok) bytes.resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (ok && done < bytes.size()) {
    DWORD read = 0;
    const DWORD part = static_cast<DWORD>(bytes.size() - done > (1u << 20) ? (1u << 20) : bytes.size() - done);
    ok = ::ReadFile(file, &bytes[done], part, &read, nullptr) && read == part;
    done += read;
  }
  CloseHandle(file);
  return ok;
}

bool CWin32UpdaterPorts::Write(const std::string& name, const std::string& bytes) {
  HANDLE file = CreateFileA(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    DWORD written = 0;
    const DWORD part = static_cast<DWORD>(bytes.size() - done > (1u << 20) ? (1u << 20) : bytes.size() - done);
    ok = ::WriteFile(file, bytes.data() + done, part, &written, nullptr) && written == part;
    done += written;
  }
  ok = FlushFileBuffers(file) && ok;
  CloseHandle(file);
  return ok;
}

bool CWin32UpdaterPorts::Copy(const std::string& from, const std::string& to) {
  return ::CopyFileA(Path(from).c_str(), Path(to).c_str(), FALSE) != FALSE;
}

bool CWin32UpdaterPorts::Move(const std::string& from, const std::string& to) {
  return MoveFileExA(Path(from).c_str(), Path(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool CWin32UpdaterPorts::Remove(const std::string& name) {
  return ::DeleteFileA(Path(name).c_str()) != FALSE || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool CWin32UpdaterPorts::EmptyFolder(const std::string& name) {
  const std::string folder = Path(name);
  // A junction or folder link leads to another folder, whose files this elevated process must
  // neither delete nor overwrite: refused before anything is touched.
  const DWORD before = GetFileAttributesA(folder.c_str());
  if (before != INVALID_FILE_ATTRIBUTES && (before & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  CreateDirectoryA(folder.c_str(), nullptr);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ::DeleteFileA((folder + "\\" + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool CWin32UpdaterPorts::UseFolder(const std::string& name) {
  const std::string folder = Path(name);
  const DWORD before = GetFileAttributesA(folder.c_str());
  if (before != INVALID_FILE_ATTRIBUTES && (before & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  CreateDirectoryA(folder.c_str(), nullptr);
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A process whose image is this folder's tavrick.exe; with `end`, each one found is ended.
bool CWin32UpdaterPorts::ProgramRuns(bool end) {
  const std::string program = LongPath(Path(kProgramName));
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  bool runs = false;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more && (end || !runs); more = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szExeFile, kProgramName) != 0) continue;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | (end ? PROCESS_TERMINATE : 0), FALSE,
                                 entry.th32ProcessID);
    if (!process) continue;
    char image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    const bool ours = QueryFullProcessImageNameA(process, 0, image, &size) &&
                      lstrcmpiA(LongPath(image).c_str(), program.c_str()) == 0 &&
                      WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    if (ours && end) {
      TerminateProcess(process, 1);
      WaitForSingleObject(process, 5000);
    }
    runs = runs || ours;
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return runs;
}

// The program's single-instance name: while the updater holds it no copy starts normally.
bool CWin32UpdaterPorts::TakeProgramName() {
  if (m_hProgramName) return true;
  // The program's access list (app/startup.cpp): any administrator's copy sees the name taken.
  PSECURITY_DESCRIPTOR access = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;GA;;;BA)(A;;GA;;;SY)(A;;0x00100000;;;WD)",
                                                       SDDL_REVISION_1, &access, nullptr);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, access, FALSE};
  HANDLE name = CreateMutexA(access ? &attributes : nullptr, FALSE, kProgramMutexName);
  const DWORD error = GetLastError();
  if (access) LocalFree(access);
  if (!name) return false;  // also a name held by another account's copy, which may not be opened
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(name);
    return false;
  }
  m_hProgramName = name;
  return true;
}

void CWin32UpdaterPorts::ReleaseProgramName() {
  if (m_hProgramName) CloseHandle(m_hProgramName);
  m_hProgramName = nullptr;
}

// The name first: the copy that holds it protects, or is ending. Once this updater holds it, a
// copy still running is one that was refused the name and waits on its message box ("已经运行
// 一个程序,不能重复运行!") for nobody: it is ended, so it holds neither the update nor the
// program's return up.
bool CWin32UpdaterPorts::WaitProgramEnded(int seconds) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  while (!TakeProgramName()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(200);
  }
  while (ProgramRuns(true)) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(200);
  }
  return true;
}

bool CWin32UpdaterPorts::StartProgram(const std::string& words, int confirmSeconds) {
  ReleaseProgramName();
  const std::string program = Path(kProgramName);
  std::string commandLine = "\"" + program + "\"" + (words.empty() ? "" : " " + words);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  // The current folder is the one the old program ran in: its configuration is there.
  if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return false;
  bool up = confirmSeconds <= 0;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(confirmSeconds) * 1000;
  while (!up) {
    if (!RecordValue("confirmed").empty()) {
      up = true;
    } else if (WaitForSingleObject(info.hProcess, 200) == WAIT_OBJECT_0) {
      break;  // ended before its window stood
    } else if (GetTickCount64() >= deadline) {
      // Hung in its start (a message box nobody answers): it goes, so the old files can return.
      TerminateProcess(info.hProcess, 1);
      WaitForSingleObject(info.hProcess, 10000);
      break;
    }
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return up;
}

std::string CWin32UpdaterPorts::RecordValue(const std::string& key) {
  std::vector<char> value(8192);
  GetPrivateProfileStringA(kRecordSection, key.c_str(), "", value.data(), static_cast<DWORD>(value.size()),
                           Path(kRecordFile).c_str());
  return value.data();
}

void CWin32UpdaterPorts::SetRecordValue(const std::string& key, const std::string& value) {
  WritePrivateProfileStringA(kRecordSection, key.c_str(), value.c_str(), Path(kRecordFile).c_str());
}

int64_t CWin32UpdaterPorts::Now() { return static_cast<int64_t>(std::time(nullptr)); }

int RunUpdaterProcess(IUpdaterPorts& ports) {
  CUpdater updater(ports);
  if (IsStageArguments(CommandArguments(GetCommandLineA()))) return updater.Run(GetCommandLineA());
  HANDLE once = CreateMutexA(nullptr, TRUE, kUpdaterMutexName);
  if (once && GetLastError() == ERROR_ALREADY_EXISTS) {
    const DWORD waited = WaitForSingleObject(once, static_cast<DWORD>(kOtherUpdaterWaitSeconds) * 1000);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return updater.GiveUpWaiting();
  }
  const int result = updater.Run(GetCommandLineA());
  if (once) ReleaseMutex(once);
  return result;
}
