#include "traffic/packet_list.h"

#include <cstdio>
#include <cstring>

#include "common/crt_text.h"

std::atomic<int32_t> g_nFilterMode{kFilterArriving};
std::atomic<bool> g_bListAutoScroll{true};

namespace {

// A text field of a driver record, up to its end even when no NUL closes it.
std::string Field(const char* text, size_t size) { return std::string(text, strnlen(text, size)); }

std::string Unsigned(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "%lu", value);
  return text;
}

}  // namespace

bool PacketLeaves(const _CPacketInfo& packet, const std::vector<std::string>& localIps) {
  const std::string source = InetNtoa(packet.dwSrcIP);
  for (const std::string& own : localIps)
    if (own == source) return true;
  return false;
}

bool FilterKeeps(int32_t mode, bool leaves) {
  if (mode == kFilterArriving) return !leaves;
  if (mode == kFilterLeaving) return leaves;
  return true;
}

std::string PacketCellText(int number, const _CPacketInfo& packet, int column) {
  switch (column) {
    case 0: return std::to_string(number);
    case 1: return Field(packet.szProtocol, sizeof packet.szProtocol);
    case 2: return InetNtoa(packet.dwSrcIP);
    case 3: return Unsigned(packet.wSrcPort);
    case 4: return InetNtoa(packet.dwDstIP);
    case 5: return Unsigned(packet.wDstPort);
    case 6: return Unsigned(packet.dwSize);
    case 7: return Field(packet.szTime, sizeof packet.szTime);
    default: return std::string();
  }
}

std::vector<CColumnSpec> PacketColumns(int w) {
  return {{"序号", w / 10}, {"协议", w / 10}, {"来源IP", w / 5}, {"来源端口", w / 9},
          {"目的IP", w / 5}, {"目的端口", w / 9}, {"包大小", w / 8}, {"访问时间", 160}};
}

CPacketRowPlan CPacketRowCounter::Plan(bool kept, bool shown, bool autoScroll, int rowsInList) {
  CPacketRowPlan plan;
  if (!kept) return plan;
  if (shown) {
    plan.bInsert = true;
    plan.nRow = m_nRowCount++;
    ++rowsInList;
  }
  if (m_nRowCount > kMaxPacketRows) {
    plan.bEmpty = true;  // scrolling first would be wasted: the rows go at once
    m_nRowCount = 0;
    return plan;
  }
  plan.bScroll = rowsInList > 0 && autoScroll;
  return plan;
}
