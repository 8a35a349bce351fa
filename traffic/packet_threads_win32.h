#pragma once
#include <windows.h>

constexpr UINT kPacketRowMessage = WM_USER + 1;  // 0x401: lParam points at one _CPacketInfo

// Starts the reader, statistics and list feeder threads (once per process; they never end).
// The feeder hands rows to `page` while the traffic monitor is shown.
void StartPacketThreads(HWND page);

// Wakes both consumers now instead of at the next batch with packets (at most a second
// later): for a change they should see at once, such as the monitor shown, hidden or paused.
void WakePacketConsumers();
