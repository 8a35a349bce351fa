#pragma once
#include <windows.h>

#include <atomic>

#include "driver/driver_records.h"

// One captured packet on its way from the list feeder to the packet page. The rows not yet
// freed are counted: a row lost or freed twice shows in the count.
struct CPacketRow {
  explicit CPacketRow(const _CPacketInfo& packet) : info(packet) { ++s_nInFlight; }
  ~CPacketRow() { --s_nInFlight; }
  CPacketRow(const CPacketRow&) = delete;
  CPacketRow& operator=(const CPacketRow&) = delete;
  static long InFlight() { return s_nInFlight.load(); }

  _CPacketInfo info;

 private:
  static std::atomic<long> s_nInFlight;
};

// Posted to the packet page. The row is the page's to free (TakePayload<CPacketRow>).
constexpr UINT kPacketRowMessage = WM_USER + 1;    // 0x401: lParam owns one CPacketRow
constexpr UINT kPacketClearMessage = WM_USER + 3;  // empty the packet list

// Rows in flight are capped: a page that stops taking them (its thread busy) would otherwise
// fill its thread's message queue, and then every other post to that thread fails. Past the
// cap a row is not shown; the statistics count every packet whatever the page takes.
constexpr long kMaxPacketRowsInFlight = 5000;  // half the 10,000 posts a thread's queue holds
// Hands one row to the page; false (nothing posted) past the cap or when the page is gone.
bool PostPacketRow(HWND page, const _CPacketInfo& info);

// Starts the reader, statistics and list feeder threads (once per process; they never end).
// The feeder hands rows to `page` while the traffic monitor is shown.
void StartPacketThreads(HWND page);

// Wakes both consumers now instead of at the next batch with packets (at most a second
// later): for a change they should see at once, such as the monitor shown, hidden or paused.
void WakePacketConsumers();

// The traffic monitor's pause button: ToggleMonitorPause on the process's pipeline, then both
// consumers are woken. True when the list is paused now.
bool TogglePacketListPause();
