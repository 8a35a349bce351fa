#pragma once
// Per-address counters of one statistics window: 30 slots per direction, new addresses
// taking the slots in turn once all are in use.
#include <array>
#include <cstdint>
#include <mutex>
#include <string>

constexpr int kIpStatSlots = 30;
constexpr double kBytesPerMb = 1024000.0;  // the product's megabyte

struct _CIpStat {
  char szIp[100];
  int32_t nCount;
  float fMb;
  int32_t bCursor;
};
static_assert(sizeof(_CIpStat) == 112, "per-address record");

using CIpStatTable = std::array<_CIpStat, kIpStatSlots>;

extern CIpStatTable g_IpInTable;   // packets arriving, by source address
extern CIpStatTable g_IpOutTable;  // packets leaving, by destination address, with bytes
// The statistics thread writes the tables while the user-interface thread reads and empties
// them; this lock (never the packet mutex, which the list feeder holds while it waits for the
// user-interface thread) keeps the two apart.
extern std::mutex g_IpStatsLock;

void CountIncoming(CIpStatTable& table, const std::string& ipText);
void CountOutgoing(CIpStatTable& table, const std::string& ipText, uint32_t size);
void ClearIpStats(CIpStatTable& table);
// Stable descending bubble sort by count (mode 0) or megabytes (mode 1).
void SortIpStats(_CIpStat* records, int n, int mode);

// The "刷新缓存" button: fetch a fresh batch and start both tables from zero.
void RefreshCache();
