#pragma once
// What the system resource window reaches the system through. The program uses the system's
// own; a test build of the program may put others in place before the window is created.
#include <windows.h>

#include "remote/restart_program.h"
#include "resources/cpu_usage.h"
#include "resources/disk_info.h"
#include "resources/memory_load.h"
#include "resources/resource_watch.h"

struct CResourcePorts {
  ISystemInformation* pSystem = nullptr;
  IMemoryStatus* pMemory = nullptr;
  IDiskQuery* pDisks = nullptr;
  IResourceClock* pClock = nullptr;
  IProcessPorts* pProcess = nullptr;
  UINT nTableMs = 120000;  // disk table refresh
  UINT nAlertMs = 120000;  // resource alert check
};

class CWin32ResourceClock : public IResourceClock {
 public:
  int64_t Now() override;
  int LocalHour() override;
};

// The system's ports (one set for the process).
const CResourcePorts& SystemResourcePorts();
// The ports the next resource window uses: the ones set, else the system's.
const CResourcePorts& ResourcePorts();
void SetResourcePorts(const CResourcePorts& ports);
