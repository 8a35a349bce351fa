#include "resources/memory_load.h"

int MemoryUsagePercent(IMemoryStatus& status) {
  try {
    uint32_t percent = 0;
    if (!status.MemoryLoad(percent)) return 0;
    return percent > 100 ? 100 : static_cast<int>(percent);
  } catch (...) {
    return 0;
  }
}
