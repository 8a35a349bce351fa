#pragma once
// The chart page's ranking of remote addresses: the sorted copy of a per-address table, the
// rows and chart values it shows, its captions and the row kept selected.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "traffic/ip_stats.h"

// 0 = by access count ("被访问次数", the incoming table), 1 = by downloaded megabytes
// ("被下载流量", the outgoing table).
extern std::atomic<int32_t> g_nRankMode;

using CRankCopy = std::array<_CIpStat, kIpStatSlots>;

// Copies the table the mode ranks (under the statistics lock) and sorts the copy.
void FillRankCopy(CRankCopy& copy, int32_t mode);

struct CRankRow {
  std::string strId;     // the rank, from 0
  std::string strIp;     // empty for a slot no address has taken
  std::string strValue;  // count, or megabytes with four decimals
  uint32_t nChartValue;  // count, or whole megabytes (truncated)
};
std::vector<CRankRow> RankingRows(const CRankCopy& copy, int32_t mode);

const char* RankValueTitle(int32_t mode);  // "次数" or "MB"
// "次/1分钟统计用:<seconds>秒(防火墙参考值)", or with "MB/" in mode 1.
std::string WindowCaption(int32_t mode, int seconds);
// The first row whose address equals the key, both without surrounding blanks; -1 for an
// empty key or no match.
int FindRankRow(const std::vector<CRankRow>& rows, const std::string& key);
