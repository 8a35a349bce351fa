#include "app/process_mutexes_win32.h"

#include "alerts/status_mutex_win32.h"

void CreateProcessMutexes() {
  g_hPacketMutex = CreateMutexA(nullptr, FALSE, nullptr);
  g_hWatchFileMutex = CreateMutexA(nullptr, FALSE, nullptr);
  CreateStatusMutex();
}
