#pragma once
// The packet list page's rules: which packets it lists, the texts of a row, its columns and
// when the list is emptied.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/driver_records.h"

// Packets listed: 1 arriving ("进入本机"), 2 leaving ("本机发出"), 3 all ("全部").
constexpr int32_t kFilterArriving = 1;
constexpr int32_t kFilterLeaving = 2;
constexpr int32_t kFilterAll = 3;
extern std::atomic<int32_t> g_nFilterMode;
extern std::atomic<bool> g_bListAutoScroll;  // keep the last packet row in view

// The list is emptied when it passes this many rows.
constexpr int kMaxPacketRows = 5000;

// A packet leaves the server when its source is exactly one of the server's own addresses.
bool PacketLeaves(const _CPacketInfo& packet, const std::vector<std::string>& localIps);
bool FilterKeeps(int32_t mode, bool leaves);
// 序号, 协议, 来源IP, 来源端口, 目的IP, 目的端口, 包大小, 访问时间.
constexpr int kPacketColumns = 8;
std::string PacketCellText(int number, const _CPacketInfo& packet, int column);  // "" outside the row

struct CColumnSpec {
  const char* szTitle;
  int nWidth;
};
// The eight columns, their widths shares of the list's client width (the time column fixed).
std::vector<CColumnSpec> PacketColumns(int clientWidth);

// What the list does with one packet row.
struct CPacketRowPlan {
  bool bInsert = false;  // add a row at nRow
  int nRow = 0;
  bool bScroll = false;  // bring the last row into view
  bool bEmpty = false;   // then delete every row
};

// Numbers the rows: nRowCount counts the rows added since the list was last emptied.
class CPacketRowCounter {
 public:
  CPacketRowPlan Plan(bool kept, bool shown, bool autoScroll, int rowsInList);
  void Emptied() { m_nRowCount = 0; }
  int RowCount() const { return m_nRowCount; }

 private:
  int m_nRowCount = 0;
};
