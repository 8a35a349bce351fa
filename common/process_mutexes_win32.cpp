#include "common/process_mutexes_win32.h"

HANDLE g_hPacketMutex = nullptr;
HANDLE g_hWatchFileMutex = nullptr;
