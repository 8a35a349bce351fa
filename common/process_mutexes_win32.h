#pragma once
// The process's unnamed mutexes that several subsystems take. The main window creates them.
#include <windows.h>

extern HANDLE g_hPacketMutex;     // packet snapshot and per-address tables
extern HANDLE g_hWatchFileMutex;  // pending-file list of the web folder watcher
