#pragma once
// The fixed disks among A: to J: with their size and free space, the totals over them, and
// the texts of the disk table with the drive that has run out of space.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One fixed disk; sizes in GB (bytes / 2^30) in single precision.
struct _Cdiskinfor {
  std::string strDrive;  // "C:"
  float fFree = 0;
  float fTotal = 0;
  float fFreeRatio = 0;  // fFree / fTotal x 100
};

// Totals over the listed disks in whole GB (the summed bytes / 2^30, truncated).
struct _Cdisktotal {
  int32_t nFree = 0;
  int32_t nTotal = 0;
  // nFree / nTotal x 100. Below one whole GB of total (or no disk at all) the whole-GB
  // figures say nothing: the ratio of the summed bytes then, 0 when there are none.
  float fFreeRatio = 0;
};

using CDiskList = std::vector<std::unique_ptr<_Cdiskinfor>>;

// The process-wide disk list and totals: filled by GetDiskInfo, the list emptied by the
// table after each display.
extern CDiskList g_pDiskList;
extern _Cdisktotal g_pDiskTotal;

constexpr unsigned kFixedDrive = 3;  // the drive type of a fixed disk

class IDiskQuery {
 public:
  virtual ~IDiskQuery() = default;
  virtual uint32_t LogicalDrives() = 0;  // bit i set: drive 'A' + i exists
  virtual unsigned DriveType(const std::string& drive) = 0;  // drive as "C:"
  // The volume's total bytes and total free bytes (not the caller's quota).
  virtual bool FreeSpace(const std::string& drive, uint64_t& totalBytes, uint64_t& freeBytes) = 0;
};

// Appends one record per fixed disk among A: to J: and overwrites the totals. No drives:
// nothing changes. A free-space query that fails ends the enumeration: the records so far
// stay, the totals are not written.
void GetDiskInfo(IDiskQuery& query, CDiskList& list, _Cdisktotal& total);

// A disk whose free space prints as 0.00 GB.
bool IsOutOfSpace(float freeGb);

struct CDiskTable {
  std::vector<std::vector<std::string>> rows;  // the disk rows, then the totals row
  std::string strLowDrive;  // the last disk out of space not yet alerted, or ""
};
CDiskTable DiskTableRows(const CDiskList& list, const _Cdisktotal& total, const std::string& alertedDrives);
