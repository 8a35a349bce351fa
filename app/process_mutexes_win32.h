#pragma once
#include <windows.h>

extern HANDLE g_hPacketMutex;     // packet snapshot and per-address tables
extern HANDLE g_hWatchFileMutex;  // pending-file list of the web folder watcher

// The three unnamed mutexes of the process, in their fixed order (the status mutex last).
void CreateProcessMutexes();
