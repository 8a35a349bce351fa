#include "ipblock/blocked_list.h"

#include "common/crt_text.h"
#include "ipblock/ip_display.h"
#include "ipblock/ip_tables.h"

std::string g_strFilterCount = "0";

const CListColumn kBlockedColumns[kBlockedColumnCount] = {
    {"ID", 30}, {"IP地址", 0}, {"端口号", 60}, {"冻结时间", 80}, {"*主键", 0}, {"类型", 0},
};
const CListColumn kExceptionColumns[kExceptionColumnCount] = {{"ID", 30}, {"IP地址", 0}};

int AddressColumnWidth(const CListColumn* columns, int count, int listClientWidth) {
  int others = 0;
  for (int i = 0; i < count; ++i) others += columns[i].nWidth;
  return listClientWidth > others ? listClientWidth - others : 0;
}

std::string BlockedRowKey(const std::string& dottedIp, const std::string& portText) { return dottedIp + portText; }

CBlockedListRow MakeBlockedRow(const _CIPFilter& entry, int rowNumber) {
  const std::string dotted = InetNtoa(entry.dwIp);
  const std::string port = std::to_string(Ntohs(static_cast<uint16_t>(entry.dwPort & 0xFFFF)));
  CBlockedListRow row;
  row.strId = std::to_string(rowNumber);
  row.strIp = BlockedIpToDisplay(entry);
  row.strPort = PortToDisplay(port);
  row.strTime = entry.strTime;
  row.strKey = BlockedRowKey(dotted, port);
  row.strType = std::to_string(entry.nType);
  row.dwIp = entry.dwIp;
  row.dwPort = entry.dwPort;
  row.nSerial = entry.nSerial;
  return row;
}

std::vector<CBlockedListRow> BuildBlockedRows(const CIpFilterList& table) {
  std::vector<CBlockedListRow> rows;
  for (const auto& entry : table) {
    if (entry->strAction != "add") continue;
    rows.push_back(MakeBlockedRow(*entry, static_cast<int>(rows.size())));
  }
  return rows;
}

int FindRowOf(const std::vector<CBlockedListRow>& rows, uint32_t ip, uint32_t port) {
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].dwIp == ip && rows[i].dwPort == port) return static_cast<int>(i);
  return -1;
}

std::vector<CBlockedRow> AlertRows(const std::vector<CBlockedListRow>& rows) {
  std::vector<CBlockedRow> alertRows;
  alertRows.reserve(rows.size());
  for (const CBlockedListRow& row : rows) alertRows.push_back({row.strIp, row.strType, row.nSerial});
  return alertRows;
}

std::vector<CBlockedRow> BlockedRowsFromTable() { return AlertRows(BuildBlockedRows(g_pIpFilterList)); }

CExceptionRow MakeExceptionRow(const std::string& dottedIp, int rowNumber) {
  return {std::to_string(rowNumber), IpToDisplay(dottedIp), InetAddr(dottedIp)};
}

std::vector<CExceptionRow> BuildExceptionRows(const CIpOuterList& table) {
  std::vector<CExceptionRow> rows;
  for (const auto& entry : table) {
    CExceptionRow row = MakeExceptionRow(InetNtoa(entry->dwIp), static_cast<int>(rows.size()));
    row.dwIp = entry->dwIp;  // the table's value even where the text would not read back
    rows.push_back(row);
  }
  return rows;
}
