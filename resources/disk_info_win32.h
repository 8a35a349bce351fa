#pragma once
// The disk queries on the real system.
#include "resources/disk_info.h"

class CWin32DiskQuery : public IDiskQuery {
 public:
  uint32_t LogicalDrives() override;
  unsigned DriveType(const std::string& drive) override;
  bool FreeSpace(const std::string& drive, uint64_t& totalBytes, uint64_t& freeBytes) override;
};
