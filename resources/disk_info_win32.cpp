#include "resources/disk_info_win32.h"

#include <windows.h>

namespace {

// "C:" alone names the current folder of that drive; the root is meant.
std::string Root(const std::string& drive) { return drive + "\\"; }

}  // namespace

uint32_t CWin32DiskQuery::LogicalDrives() { return GetLogicalDrives(); }

unsigned CWin32DiskQuery::DriveType(const std::string& drive) { return GetDriveTypeA(Root(drive).c_str()); }

bool CWin32DiskQuery::FreeSpace(const std::string& drive, uint64_t& totalBytes, uint64_t& freeBytes) {
  ULARGE_INTEGER callerFree, total, totalFree;
  if (!GetDiskFreeSpaceExA(Root(drive).c_str(), &callerFree, &total, &totalFree)) return false;
  totalBytes = total.QuadPart;
  freeBytes = totalFree.QuadPart;
  return true;
}
