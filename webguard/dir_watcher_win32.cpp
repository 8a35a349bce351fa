#include "webguard/dir_watcher_win32.h"

#include <cstddef>
#include <cstdint>
#include <exception>

#include "common/version.h"
#include "common/clock.h"
#include "config/daily_log.h"
#include "config/daily_log_win32.h"
#include "webguard/webguard_ports_win32.h"

const char kWatcherFailureMessage[] = "错误在这里！";

namespace {

// Room for many notices per read: a batch of uploads (a folder, an unpacked archive) arrives
// as one read, and every added script in it must be seen.
constexpr DWORD kNoticeBufferSize = 64 * 1024;

void DispatchThreadMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

std::string AnsiName(const wchar_t* name, int units) {
  const int length = WideCharToMultiByte(CP_ACP, 0, name, units, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) WideCharToMultiByte(CP_ACP, 0, name, units, &text[0], length, nullptr, nullptr);
  return text;
}

// Every notice of one read (a shell uploaded together with other files must not slip through).
void ParseNotices(const uint8_t* bytes, DWORD size, std::vector<CNotice>* notices) {
  DWORD offset = 0;
  while (offset + sizeof(FILE_NOTIFY_INFORMATION) <= size) {
    const auto* notice = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(bytes + offset);
    if (offset + offsetof(FILE_NOTIFY_INFORMATION, FileName) + notice->FileNameLength > size) break;
    const int units = static_cast<int>(notice->FileNameLength / sizeof(WCHAR));
    CNotice parsed;
    parsed.action = notice->Action;
    // The whole name is converted: a cut name would point at no file.
    parsed.strName = AnsiName(notice->FileName, units);
    parsed.wstrName.assign(reinterpret_cast<const char16_t*>(notice->FileName), static_cast<size_t>(units));
    notices->push_back(std::move(parsed));
    if (notice->NextEntryOffset == 0) break;
    offset += notice->NextEntryOffset;
  }
}

}  // namespace

CDirWatcher::CDirWatcher()
    : m_hStop(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_hIoDone(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_buffer(kNoticeBufferSize / sizeof(DWORD)) {}

CDirWatcher::~CDirWatcher() {
  Stop(INFINITE);  // the owner keeps a watcher whose thread did not end (see Stop)
  CloseHandle(m_hStop);
  CloseHandle(m_hIoDone);
}

HANDLE CDirWatcher::Start(const std::string& path, CWatcherFileList* files, const std::string* types,
                          int typeCount) {
  Stop();  // one thread per watcher
  CreateWatchFileMutex();
  strPath = path;
  pFiles = files;
  pTypes = types;
  nTypes = typeCount;
  ResetEvent(m_hStop);
  hThread = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
  return hThread;
}

bool CDirWatcher::Stop(DWORD waitMs) {
  if (hThread) {
    SetEvent(m_hStop);
    if (WaitForSingleObject(hThread, waitMs) != WAIT_OBJECT_0) return false;
    CloseHandle(hThread);
    hThread = nullptr;
  }
  if (hDir != INVALID_HANDLE_VALUE) CloseHandle(hDir);
  hDir = INVALID_HANDLE_VALUE;
  m_bWatching = false;
  return true;
}

DWORD WINAPI CDirWatcher::ThreadMain(void* self) {
  static_cast<CDirWatcher*>(self)->Run();
  return 0;
}

void CDirWatcher::Run() {
  CWin32WebFileSystem files;
  m_wstrPath = files.WidePath(strPath);
  // A folder that cannot be opened now is told and opened again by the rounds.
  Open();
  CSystemClock clock;
  CWatchReports reports = m_reports;
  reports.watching = [this](bool watching) {
    m_bWatching = watching;
    if (m_reports.watching) m_reports.watching(watching);
  };
  CWatchRounds rounds(*this, files, clock, [](const std::string& text) {
    CWin32LogFileSystem logs;
    AppendLog(logs, text, kLogFolder, kWatchLogPrefix);
  }, reports);
  CWatchTarget target;
  target.folder = CWebFile{strPath, m_wstrPath};
  // The thread keeps its own copy of the types: the settings may change while it runs.
  const std::vector<std::string> types(pTypes, pTypes + (pTypes ? nTypes : 0));
  target.pTypes = types.data();
  target.nTypes = static_cast<int>(types.size());
  target.pFiles = pFiles;
  target.pEnabled = &bEnabled;
  // A round that fails is reported and the watching goes on.
  for (;;) {
    try {
      rounds.Run(target);
      return;
    } catch (const std::exception&) {
      // The read that was under way is dropped; the next round starts its own.
      CancelIo(hDir);
      DWORD bytes = 0;
      GetOverlappedResult(hDir, &m_overlapped, &bytes, TRUE);
      // Told through the window: a message box here would hold the thread, and Stop, for a human.
      if (m_reports.message) {
        m_reports.message(kWatcherFailureMessage);
      } else {
        MessageBoxA(nullptr, kWatcherFailureMessage, kAppName, MB_OK);
      }
    }
    DispatchThreadMessages();
    if (WaitForSingleObject(m_hStop, 0) == WAIT_OBJECT_0) return;
  }
}

bool CDirWatcher::Open() {
  hDir = CreateFileW(reinterpret_cast<const wchar_t*>(ExtendedPath(m_wstrPath).c_str()), GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  return hDir != INVALID_HANDLE_VALUE;
}

bool CDirWatcher::Reopen() {
  if (hDir != INVALID_HANDLE_VALUE) {
    CancelIo(hDir);
    CloseHandle(hDir);
  }
  hDir = INVALID_HANDLE_VALUE;
  return Open();
}

bool CDirWatcher::Stopping() { return WaitForSingleObject(m_hStop, 0) == WAIT_OBJECT_0; }

bool CDirWatcher::Arm() {
  if (hDir == INVALID_HANDLE_VALUE) return false;
  m_overlapped = OVERLAPPED{};
  m_overlapped.hEvent = m_hIoDone;
  ResetEvent(m_hIoDone);
  return ReadDirectoryChangesW(hDir, m_buffer.data(), kNoticeBufferSize, TRUE, kWatchNotifyFilter, nullptr,
                               &m_overlapped, nullptr) != FALSE;
}

bool CDirWatcher::StillTheFolder() {
  BY_HANDLE_FILE_INFORMATION open{};
  if (!GetFileInformationByHandle(hDir, &open)) return false;
  // Deleted while open: the folder stays, under its name, until the last handle (ours) closes.
  FILE_STANDARD_INFO standard{};
  if (GetFileInformationByHandleEx(hDir, FileStandardInfo, &standard, sizeof standard) && standard.DeletePending) {
    return false;
  }
  CWin32WebFileSystem files;
  const std::string now = files.FolderIdentity(CWebFile{strPath, m_wstrPath});
  return now == std::to_string(open.dwVolumeSerialNumber) + ":" + std::to_string(open.nFileIndexHigh) + ":" +
                    std::to_string(open.nFileIndexLow);
}

ReadOutcome CDirWatcher::Wait(std::vector<CNotice>* notices) {
  const HANDLE waits[2] = {m_hStop, m_hIoDone};
  DWORD got;
  // A folder deleted or replaced under the open handle does not always end the read: it is
  // looked at now and then, and a read on what is no longer the folder counts as failed.
  bool lost = false;
  while ((got = WaitForMultipleObjects(2, waits, FALSE, kWatchFolderCheckMs)) == WAIT_TIMEOUT) {
    if (!StillTheFolder()) {
      lost = true;
      break;
    }
  }
  DWORD bytes = 0;
  if (got != WAIT_OBJECT_0 + 1) {
    CancelIo(hDir);
    GetOverlappedResult(hDir, &m_overlapped, &bytes, TRUE);  // the buffer is ours again
    return lost ? ReadOutcome::kFailed : ReadOutcome::kStopped;
  }
  DispatchThreadMessages();
  if (!GetOverlappedResult(hDir, &m_overlapped, &bytes, FALSE)) {
    return GetLastError() == ERROR_NOTIFY_ENUM_DIR ? ReadOutcome::kOverflow : ReadOutcome::kFailed;
  }
  // A successful read with nothing in it: the system's buffer overflowed and was dropped.
  if (bytes == 0) return ReadOutcome::kOverflow;
  ParseNotices(reinterpret_cast<const uint8_t*>(m_buffer.data()), bytes, notices);
  return ReadOutcome::kNotices;
}

bool CDirWatcher::Pause(int milliseconds) {
  return WaitForSingleObject(m_hStop, static_cast<DWORD>(milliseconds)) != WAIT_OBJECT_0;
}

bool CDirWatcher::LockList() {
  // Stop wins over a mutex held by the checker for its whole batch.
  const HANDLE waits[2] = {m_hStop, g_hWatchFileMutex};
  const DWORD got = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  return got == WAIT_OBJECT_0 + 1 || got == WAIT_ABANDONED_0 + 1;
}

// Called once the round's files are queued: the checker wakes for them.
void CDirWatcher::UnlockList() {
  ReleaseMutex(g_hWatchFileMutex);
  WakeWatchFileChecker();
}
