#include "webguard/dir_watcher_win32.h"

#include <exception>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/version.h"
#include "common/clock.h"
#include "webguard/watch_types.h"
#include "webguard/webguard_ports_win32.h"

const char kWatcherFailureMessage[] = "错误在这里！";

namespace {

// Room for many notices per read: a batch of uploads (a folder, an unpacked archive) arrives
// as one read, and every added script in it must be seen.
constexpr DWORD kNoticeBufferSize = 64 * 1024;
constexpr DWORD kNotifyFilter = 0x17F;
// Pause after a failed read so that a vanished folder does not keep a core busy.
constexpr DWORD kRetryPauseMs = 100;

void DispatchThreadMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace

CDirWatcher::CDirWatcher()
    : m_hStop(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_hIoDone(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

CDirWatcher::~CDirWatcher() {
  Stop();
  CloseHandle(m_hStop);
  CloseHandle(m_hIoDone);
}

HANDLE CDirWatcher::Start(const std::string& path, CWatcherFileList* files,
                          const std::string* types, int typeCount) {
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

void CDirWatcher::Stop() {
  if (hThread) {
    SetEvent(m_hStop);
    WaitForSingleObject(hThread, INFINITE);
    CloseHandle(hThread);
    hThread = nullptr;
  }
  if (hDir != INVALID_HANDLE_VALUE) CloseHandle(hDir);
  hDir = INVALID_HANDLE_VALUE;
}

DWORD WINAPI CDirWatcher::ThreadMain(void* self) {
  static_cast<CDirWatcher*>(self)->Run();
  return 0;
}

void CDirWatcher::Run() {
  hDir = CreateFileA(strPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  if (hDir == INVALID_HANDLE_VALUE) return;
  // DWORD-aligned, as the notices require.
  std::vector<DWORD> buffer(kNoticeBufferSize / sizeof(DWORD));
  auto* notices = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(buffer.data());
  while (WaitForSingleObject(m_hStop, 0) != WAIT_OBJECT_0) {
    try {
      std::fill(buffer.begin(), buffer.end(), 0);
      DWORD bytes = 0;
      if (ReadOnce(notices, kNoticeBufferSize, &bytes)) {
        HandleNotices(reinterpret_cast<const uint8_t*>(buffer.data()), bytes);
      } else if (WaitForSingleObject(m_hStop, kRetryPauseMs) == WAIT_OBJECT_0) {
        break;
      }
    } catch (const std::exception&) {
      MessageBoxA(nullptr, kWatcherFailureMessage, kAppName, MB_OK);
    }
    DispatchThreadMessages();
  }
}

// One read of the change notices; false when it failed, was cancelled or stop was asked.
bool CDirWatcher::ReadOnce(FILE_NOTIFY_INFORMATION* buffer, DWORD size, DWORD* received) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = m_hIoDone;
  ResetEvent(m_hIoDone);
  DWORD& bytes = *received;
  if (!ReadDirectoryChangesW(hDir, buffer, size, TRUE, kNotifyFilter, nullptr, &overlapped,
                             nullptr)) {
    return false;
  }
  const HANDLE waits[2] = {m_hStop, m_hIoDone};
  if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
    CancelIo(hDir);
    GetOverlappedResult(hDir, &overlapped, &bytes, TRUE);  // the buffer is ours again
    return false;
  }
  return GetOverlappedResult(hDir, &overlapped, &bytes, FALSE) && bytes > 0;
}

// Every notice of the read, not just the first: a shell uploaded together with other files
// must not slip through.
void CDirWatcher::HandleNotices(const uint8_t* notices, DWORD bytes) {
  DWORD offset = 0;
  while (offset + sizeof(FILE_NOTIFY_INFORMATION) <= bytes) {
    const auto* notice = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(notices + offset);
    if (offset + offsetof(FILE_NOTIFY_INFORMATION, FileName) + notice->FileNameLength > bytes) break;
    HandleNotice(*notice);
    if (notice->NextEntryOffset == 0) break;
    offset += notice->NextEntryOffset;
  }
}

void CDirWatcher::HandleNotice(const FILE_NOTIFY_INFORMATION& notice) {
  CSystemClock clock;
  const std::string time = FormatLocalTime(clock.Now(), kAddedTimeFormat);
  const int units = static_cast<int>(notice.FileNameLength / sizeof(WCHAR));
  // The whole name is converted: a cut name would point at no file.
  const int length = WideCharToMultiByte(CP_ACP, 0, notice.FileName, units, nullptr, 0, nullptr, nullptr);
  std::string name(static_cast<size_t>(length), '\0');
  if (length > 0) {
    WideCharToMultiByte(CP_ACP, 0, notice.FileName, units, &name[0], length, nullptr, nullptr);
  }
  const std::string full = strPath + "\\" + name;
  if (!MatchesWatchType(full, pTypes, nTypes)) return;
  if (notice.Action != FILE_ACTION_ADDED || !bEnabled || !pFiles) return;
  auto record = MakeWatcherFile(full, kActionAdded, time);
  // Stop wins over a mutex held by the checker for its whole batch.
  const HANDLE waits[2] = {m_hStop, g_hWatchFileMutex};
  const DWORD got = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  if (got != WAIT_OBJECT_0 + 1 && got != WAIT_ABANDONED_0 + 1) return;
  pFiles->push_back(std::move(record));
  ReleaseMutex(g_hWatchFileMutex);
}
