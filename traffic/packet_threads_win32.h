#pragma once
#include <windows.h>

// Posted to the packet page. The row's _CPacketInfo is the page's to free (TakePayload).
constexpr UINT kPacketRowMessage = WM_USER + 1;    // 0x401: lParam owns one _CPacketInfo
constexpr UINT kPacketClearMessage = WM_USER + 3;  // empty the packet list

// Starts the reader, statistics and list feeder threads (once per process; they never end).
// The feeder hands rows to `page` while the traffic monitor is shown.
void StartPacketThreads(HWND page);

// Wakes both consumers now instead of at the next batch with packets (at most a second
// later): for a change they should see at once, such as the monitor shown, hidden or paused.
void WakePacketConsumers();
