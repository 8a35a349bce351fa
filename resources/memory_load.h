#pragma once
// Physical memory load in whole percent, behind a port (the Win32 side asks the 64-bit memory
// status, which stays right on machines with more than 4 GB).
#include <cstdint>

class IMemoryStatus {
 public:
  virtual ~IMemoryStatus() = default;
  virtual bool MemoryLoad(uint32_t& percent) = 0;
};

// 0..100; 0 when the query fails or raises.
int MemoryUsagePercent(IMemoryStatus& status);
