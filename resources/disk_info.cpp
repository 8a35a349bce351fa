#include "resources/disk_info.h"

#include <cstdio>
#include <cstdlib>

CDiskList g_pDiskList;
_Cdisktotal g_pDiskTotal;

namespace {

constexpr double kBytesPerGb = 1073741824.0;
constexpr int kDriveLetters = 10;  // A: to J:

float Ratio(float part, float whole) { return whole > 0 ? part / whole * 100.0f : 0.0f; }

std::string Print(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

}  // namespace

void GetDiskInfo(IDiskQuery& query, CDiskList& list, _Cdisktotal& total) {
  const uint32_t mask = query.LogicalDrives();
  if (mask == 0) return;
  uint64_t freeSum = 0, totalSum = 0;
  for (int i = 0; i < kDriveLetters && (mask >> i) != 0; ++i) {
    if (((mask >> i) & 1) == 0) continue;
    const std::string drive = {static_cast<char>('A' + i), ':'};
    if (query.DriveType(drive) != kFixedDrive) continue;
    uint64_t totalBytes = 0, freeBytes = 0;
    if (!query.FreeSpace(drive, totalBytes, freeBytes)) return;
    auto disk = std::make_unique<_Cdiskinfor>();
    disk->strDrive = drive;
    disk->fFree = static_cast<float>(freeBytes / kBytesPerGb);
    disk->fTotal = static_cast<float>(totalBytes / kBytesPerGb);
    disk->fFreeRatio = Ratio(disk->fFree, disk->fTotal);
    list.push_back(std::move(disk));
    freeSum += freeBytes;
    totalSum += totalBytes;
  }
  total.nFree = static_cast<int32_t>(freeSum >> 30);
  total.nTotal = static_cast<int32_t>(totalSum >> 30);
  if (total.nTotal > 0)
    total.fFreeRatio = static_cast<float>(total.nFree) / static_cast<float>(total.nTotal) * 100.0f;
  else
    total.fFreeRatio = totalSum > 0 ? static_cast<float>(static_cast<double>(freeSum) / totalSum * 100.0) : 0.0f;
}

bool IsOutOfSpace(float freeGb) {
  const double shown = std::strtod(Print("%.2f", freeGb).c_str(), nullptr);
  return static_cast<int>(shown * 1000) < 10;
}

CDiskTable DiskTableRows(const CDiskList& list, const _Cdisktotal& total, const std::string& alertedDrives) {
  CDiskTable table;
  int n = 0;
  for (const auto& disk : list) {
    table.rows.push_back({std::to_string(n), disk->strDrive, Print("%.2fG", disk->fTotal), Print("%.2fG", disk->fFree),
                          Print("%.2f", disk->fFreeRatio) + "%"});
    if (IsOutOfSpace(disk->fFree) && alertedDrives.find(disk->strDrive) == std::string::npos)
      table.strLowDrive = disk->strDrive;
    ++n;
  }
  table.rows.push_back({std::to_string(n), "全部", std::to_string(total.nTotal) + "G", std::to_string(total.nFree) + "G",
                        Print("%.2f", total.fFreeRatio) + "%"});
  return table;
}
