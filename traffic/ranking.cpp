#include "traffic/ranking.h"

#include <cstdio>
#include <cstring>
#include <mutex>

std::atomic<int32_t> g_nRankMode{0};

namespace {

std::string Trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

uint32_t WholeMb(float mb) {
  if (!(mb > 0.0f)) return 0;  // also NaN
  if (mb >= 4294967295.0f) return UINT32_MAX;
  return static_cast<uint32_t>(mb);
}

}  // namespace

void FillRankCopy(CRankCopy& copy, int32_t mode) {
  std::memset(copy.data(), 0, sizeof(_CIpStat) * copy.size());
  {
    std::lock_guard<std::mutex> lock(g_IpStatsLock);
    std::memcpy(copy.data(), (mode == 1 ? g_IpOutTable : g_IpInTable).data(), sizeof(_CIpStat) * copy.size());
  }
  SortIpStats(copy.data(), static_cast<int>(copy.size()), mode == 1 ? 1 : 0);
}

std::vector<CRankRow> RankingRows(const CRankCopy& copy, int32_t mode) {
  std::vector<CRankRow> rows;
  rows.reserve(copy.size());
  for (size_t i = 0; i < copy.size(); ++i) {
    const _CIpStat& slot = copy[i];
    char mb[64];
    std::snprintf(mb, sizeof mb, "%.4f", static_cast<double>(slot.fMb));
    CRankRow row;
    row.strId = std::to_string(i);
    row.strIp.assign(slot.szIp, strnlen(slot.szIp, sizeof slot.szIp));
    row.strValue = mode == 1 ? std::string(mb) : std::to_string(slot.nCount);
    row.nChartValue = mode == 1 ? WholeMb(slot.fMb) : static_cast<uint32_t>(slot.nCount < 0 ? 0 : slot.nCount);
    rows.push_back(std::move(row));
  }
  return rows;
}

const char* RankValueTitle(int32_t mode) { return mode == 1 ? "MB" : "次数"; }

std::string WindowCaption(int32_t mode, int seconds) {
  return std::string(mode == 1 ? "MB/1分钟统计用:" : "次/1分钟统计用:") + std::to_string(seconds) +
         "秒(防火墙参考值)";
}

int FindRankRow(const std::vector<CRankRow>& rows, const std::string& key) {
  const std::string wanted = Trimmed(key);
  if (wanted.empty()) return -1;
  for (size_t i = 0; i < rows.size(); ++i)
    if (Trimmed(rows[i].strIp) == wanted) return static_cast<int>(i);
  return -1;
}
