#include "traffic/packet_threads_win32.h"

#include <mmsystem.h>

#include <atomic>
#include <memory>

#include "common/process_mutexes_win32.h"
#include "common/version.h"
#include "driver/driver_link.h"
#include "ipblock/ip_tables.h"
#include "traffic/packet_pipeline.h"
#include "traffic/packet_waits.h"
#include "ui/window_post_win32.h"

std::atomic<long> CPacketRow::s_nInFlight{0};

namespace {

class CPacketMutexLock : public IPacketLock {
 public:
  void Lock() override { WaitForSingleObject(g_hPacketMutex, INFINITE); }
  void Unlock() override { ReleaseMutex(g_hPacketMutex); }
};

// Not in every SDK's headers: a waitable timer whose due times are kept to the high-resolution
// clock instead of the system tick (Windows 10 1803 and later; older systems refuse the flag).
constexpr DWORD kCreateWaitableTimerHighResolution = 0x00000002;

// A consumer's timers: its own wake event (auto-reset, so a signal given while it works is kept
// for its next wait), its own high-resolution waitable timer where the system makes one, and
// otherwise its share of the 1 ms system timer, which Windows counts per caller.
class CConsumerTimers : public IConsumerTimers {
 public:
  CConsumerTimers()
      : m_hWake(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
        m_hTimer(CreateWaitableTimerExW(nullptr, nullptr, kCreateWaitableTimerHighResolution, TIMER_ALL_ACCESS)) {}
  void Wake() { SetEvent(m_hWake); }
  bool HasHighResolutionTimer() override { return m_hTimer != nullptr; }
  void WaitHighResolution(int milliseconds) override {
    LARGE_INTEGER due;
    due.QuadPart = -10000LL * milliseconds;  // relative, in 100 ns units
    if (!SetWaitableTimer(m_hTimer, &due, 0, nullptr, nullptr, FALSE)) {
      Sleep(milliseconds);
      return;
    }
    // Bounded all the same: the timer can only be late by a tick or so.
    WaitForSingleObject(m_hTimer, static_cast<DWORD>(milliseconds) + 100);
  }
  bool BeginFinePeriod() override { return timeBeginPeriod(1) == TIMERR_NOERROR; }
  void EndFinePeriod() override { timeEndPeriod(1); }
  void Sleep(int milliseconds) override { ::Sleep(static_cast<DWORD>(milliseconds)); }
  void WaitForWake(int milliseconds) override {
    if (m_hWake == nullptr) {
      ::Sleep(static_cast<DWORD>(milliseconds));
      return;
    }
    WaitForSingleObject(m_hWake, static_cast<DWORD>(milliseconds));
  }

 private:
  HANDLE m_hWake;
  HANDLE m_hTimer;
};

CPacketMutexLock g_packetLock;
CPacketPipeline g_pipeline(
    g_PacketBuffer, g_packetLock, [](_CPacketSnapshot* s) { return FetchPackets(s) != 0; },
    [] { return g_bDriverIdle != 0; });
// Written by the user-interface thread, read by the list feeder.
std::atomic<HWND> g_hPacketPage{nullptr};
CConsumerTimers g_statsTimers;
CConsumerTimers g_listTimers;
CPacedWaits g_statsWaits(g_statsTimers);
CPacedWaits g_listWaits(g_listTimers);

DWORD WINAPI ReaderThread(LPVOID) {
  if (g_hDevice.load() == kInvalidDevice) {
    MessageBoxA(nullptr, "防火墙没有启动！", kAppName, MB_OK);
    return 0;
  }
  for (;;) {
    try {
      if (g_pipeline.ReaderStep()) WakePacketConsumers();
    } catch (...) {
      // the batch is lost; the next period fetches again
    }
    Sleep(kReaderPeriodMs);
  }
}

DWORD WINAPI StatsThread(LPVOID) {
  for (;;) ConsumerTurn([] { return g_pipeline.StatsStep(g_saLocalIp); }, g_statsWaits);
}

// Rows handed to the page since it was last cleared; the feeder thread alone touches it.
bool g_bPageHasRows = false;

// Reaches the page only by posting (ui/window_post_win32.h): it runs under the packet lock.
bool FeederStep() {
  if (g_bMonitorPaused) return false;  // paused: the feeder takes nothing
  return g_pipeline.ListStep(
      [](const _CPacketInfo& info) {
        g_bPageHasRows = PostPacketRow(g_hPacketPage, info) || g_bPageHasRows;
      },
      [] { g_bPageHasRows = !PostToWindow(g_hPacketPage, kPacketClearMessage); }, g_bPageHasRows);
}

DWORD WINAPI FeederThread(LPVOID) {
  for (;;) ConsumerTurn(FeederStep, g_listWaits);
}

void Start(LPTHREAD_START_ROUTINE body) {
  HANDLE thread = CreateThread(nullptr, 0, body, nullptr, 0, nullptr);
  if (thread) CloseHandle(thread);
}

}  // namespace

bool PostPacketRow(HWND page, const _CPacketInfo& info) {
  if (CPacketRow::InFlight() >= kMaxPacketRowsInFlight) return false;
  return PostPayload(page, kPacketRowMessage, std::make_unique<CPacketRow>(info));
}

void WakePacketConsumers() {
  g_statsTimers.Wake();
  g_listTimers.Wake();
}

bool TogglePacketListPause() {
  const bool paused = ToggleMonitorPause(g_pipeline);
  WakePacketConsumers();
  return paused;
}

void StartPacketThreads(HWND page) {
  static std::atomic<bool> started{false};
  g_hPacketPage = page;
  if (started.exchange(true)) return;  // one set of threads for the life of the process
  Start(ReaderThread);
  Start(StatsThread);
  Start(FeederThread);
}
