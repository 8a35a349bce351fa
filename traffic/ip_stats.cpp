#include "traffic/ip_stats.h"

#include <cstring>
#include <utility>

#include "traffic/packet_pipeline.h"

CIpStatTable g_IpInTable = {};
CIpStatTable g_IpOutTable = {};
std::mutex g_IpStatsLock;

namespace {

void Count(CIpStatTable& table, const std::string& ipText, bool withBytes, uint32_t size) {
  int cursor = -1;
  for (int i = 0; i < kIpStatSlots; ++i) {
    _CIpStat& slot = table[i];
    if (ipText == slot.szIp) {
      ++slot.nCount;
      if (withBytes) slot.fMb = static_cast<float>((slot.fMb * kBytesPerMb + double(size)) / kBytesPerMb);
      return;
    }
    if (slot.bCursor == 1) cursor = i;
  }
  const int taken = cursor < 0 ? 0 : cursor;
  _CIpStat& slot = table[taken];
  std::memset(slot.szIp, 0, sizeof(slot.szIp));
  std::strncpy(slot.szIp, ipText.c_str(), sizeof(slot.szIp) - 1);
  slot.nCount = 1;
  if (withBytes) slot.fMb = static_cast<float>(double(size) / kBytesPerMb);
  slot.bCursor = 0;
  table[(taken + 1) % kIpStatSlots].bCursor = 1;
}

}  // namespace

void CountIncoming(CIpStatTable& table, const std::string& ipText) { Count(table, ipText, false, 0); }

void CountOutgoing(CIpStatTable& table, const std::string& ipText, uint32_t size) {
  Count(table, ipText, true, size);
}

void ClearIpStats(CIpStatTable& table) { std::memset(table.data(), 0, sizeof(_CIpStat) * table.size()); }

void SortIpStats(_CIpStat* records, int n, int mode) {
  for (int pass = 0; pass < n; ++pass) {
    for (int i = 0; i + 1 < n; ++i) {
      const bool later = mode == 0 ? records[i + 1].nCount > records[i].nCount : records[i + 1].fMb > records[i].fMb;
      if (later) std::swap(records[i], records[i + 1]);
    }
  }
}

void RefreshCache() {
  g_bRefill = true;
  std::lock_guard<std::mutex> lock(g_IpStatsLock);
  ClearIpStats(g_IpInTable);
  ClearIpStats(g_IpOutTable);
}
