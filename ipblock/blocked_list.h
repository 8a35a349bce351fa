#pragma once
// The rows of the blocked-IP and exception lists: what each column shows for a table entry,
// the key the selection follows across rebuilds, and the count the main window shows.
#include <cstdint>
#include <string>
#include <vector>

#include "common/ip_entries.h"
#include "ipblock/flood_blocking.h"

// The decimal number of entries in the blocked-IP table, set at every rebuild of the list;
// the main window shows it followed by "个". "0" until the first rebuild.
extern std::string g_strFilterCount;

struct CListColumn {
  const char* szTitle;
  int nWidth;
};
// "ID" 30, "IP地址" (the list's client width minus 170), "端口号" 60, "冻结时间" 80, and the
// hidden "*主键" and "类型" (width 0).
constexpr int kBlockedColumnCount = 6;
extern const CListColumn kBlockedColumns[kBlockedColumnCount];
// "ID" 30 and "IP地址" (the list's client width minus 30).
constexpr int kExceptionColumnCount = 2;
extern const CListColumn kExceptionColumns[kExceptionColumnCount];
// The width of a column given as 0 in the tables above for the address column: whatever the
// other columns leave of the list's client width (never negative).
int AddressColumnWidth(const CListColumn* columns, int count, int listClientWidth);

struct CBlockedListRow {
  std::string strId;    // column 0: row number from 0
  std::string strIp;    // column 1: the address in list form (BlockedIpToDisplay)
  std::string strPort;  // column 2: PortToDisplay of the decimal port
  std::string strTime;  // column 3: duration label
  std::string strKey;   // column 4 (hidden): dotted address followed by the port, no separator
  std::string strType;  // column 5 (hidden): "1" by hand or loaded, "0" automatic
  uint32_t dwIp = 0;    // the entry's address and port as the table holds them
  uint32_t dwPort = 0;
  uint64_t nSerial = 0;  // the entry's creation serial

  std::vector<std::string> Cells() const { return {strId, strIp, strPort, strTime, strKey, strType}; }
};

// Key of a row: dotted address text immediately followed by the decimal port text.
std::string BlockedRowKey(const std::string& dottedIp, const std::string& portText);
// The row that shows a table entry at this position.
CBlockedListRow MakeBlockedRow(const _CIPFilter& entry, int rowNumber);
// Every entry whose action is "add", in table order, numbered from 0.
std::vector<CBlockedListRow> BuildBlockedRows(const CIpFilterList& table);
// The first row of the entry with this address and port (as the table holds them); -1 when no
// row has them. The key text is no way to find a row: "1.2.3.4" with port 80 and "1.2.3.48"
// with port 0 both give "1.2.3.480".
int FindRowOf(const std::vector<CBlockedListRow>& rows, uint32_t ip, uint32_t port);
// The rows as the automatic-block alert reads them.
std::vector<CBlockedRow> AlertRows(const std::vector<CBlockedListRow>& rows);
// The table's rows for the alert, in list order.
std::vector<CBlockedRow> BlockedRowsFromTable();

struct CExceptionRow {
  std::string strId;  // column 0: row number from 0
  std::string strIp;  // column 1: IpToDisplay of the dotted address
  uint32_t dwIp = 0;

  std::vector<std::string> Cells() const { return {strId, strIp}; }
};
CExceptionRow MakeExceptionRow(const std::string& dottedIp, int rowNumber);
std::vector<CExceptionRow> BuildExceptionRows(const CIpOuterList& table);
