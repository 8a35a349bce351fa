#include <gtest/gtest.h>

#include <cstring>

#include "common/crt_text.h"
#include "traffic/line_chart.h"
#include "traffic/packet_list.h"
#include "traffic/ranking.h"

namespace {

// The chart page's settings: range 10000, a label every 500, 30 pixels per step.
CLineChartModel PageChart(int series) {
  CLineChartModel chart;
  chart.nMax = 10000;
  chart.nGridStep = 500;
  chart.nScroll = 30;
  for (int i = 0; i < series; ++i) EXPECT_TRUE(chart.AddSeries(0x0000FF + static_cast<uint32_t>(i)));
  return chart;
}

TEST(LineChart, FirstStepRisesFromTheBottomEdgeThenLinesJoinTheLastValues) {
  CLineChartModel chart = PageChart(2);
  chart.SetValue(0, 5000);
  chart.SetValue(1, 10000);
  std::vector<CChartSegment> first = chart.TakeStep(300, 200);
  ASSERT_EQ(2u, first.size());
  EXPECT_EQ(269, first[0].x0);
  EXPECT_EQ(299, first[0].x1);
  EXPECT_EQ(200, first[0].y0);  // from the bottom edge
  EXPECT_EQ(100, first[0].y1);
  EXPECT_EQ(200, first[1].y0);
  EXPECT_EQ(0, first[1].y1);
  EXPECT_EQ(0x0000FFu, first[0].crColor);
  chart.SetValue(0, 2500);
  std::vector<CChartSegment> second = chart.TakeStep(300, 200);
  EXPECT_EQ(100, second[0].y0);  // from where the last step ended
  EXPECT_EQ(150, second[0].y1);
  EXPECT_EQ(200, second[1].y0);  // a series not set again keeps both of its values
  EXPECT_EQ(0, second[1].y1);
  chart.MarkFirst();             // a reset starts from the bottom again
  EXPECT_EQ(200, chart.TakeStep(300, 200)[0].y0);
}

TEST(LineChart, ValuesAboveTheRangeAreDrawnAtTheTopEdge) {
  CLineChartModel chart = PageChart(1);
  EXPECT_EQ(0u, chart.SetValue(0, 20000));
  EXPECT_EQ(10000u, chart.Series()[0].nValue);
  EXPECT_EQ(0, chart.TakeStep(300, 321)[0].y1);
  EXPECT_EQ(10000u, chart.SetValue(0, 0xFFFFFFFFu));  // unsigned: the largest value clips too
  EXPECT_EQ(10000u, chart.Series()[0].nPrevValue);
  EXPECT_EQ(160, chart.ValueY(5000, 321));  // truncated, not rounded (160.5)
}

TEST(LineChart, OnlyExistingSeriesTakeValues) {
  CLineChartModel chart = PageChart(11);
  for (int i = 0; i < 30; ++i) chart.SetValue(i, 100u * static_cast<uint32_t>(i + 1));
  EXPECT_EQ(0u, chart.SetValue(29, 7));
  EXPECT_EQ(0u, chart.SetValue(-1, 7));
  ASSERT_EQ(11u, chart.Series().size());
  EXPECT_EQ(1100u, chart.Series()[10].nValue);
  EXPECT_EQ(11u, chart.TakeStep(300, 200).size());  // one line per series, not per value
  chart.RemoveAllSeries();
  EXPECT_TRUE(chart.TakeStep(300, 200).empty());
}

TEST(LineChart, ScaleHasTwentyDivisionsLabelledEveryFiveHundred) {
  const CLineChartModel chart = PageChart(0);
  const std::vector<CScaleMark> marks = chart.Scale(321);
  ASSERT_EQ(21u, marks.size());
  EXPECT_EQ("0", marks[0].strLabel);
  EXPECT_EQ(311, marks[0].nLabelY);  // just above the bottom edge
  EXPECT_EQ(320, marks[0].nTickY);
  EXPECT_EQ("500", marks[1].strLabel);
  EXPECT_EQ(321 - 16 - 2, marks[1].nLabelY);  // 16 pixels per division (321 / 20)
  EXPECT_EQ("10000", marks[20].strLabel);
  EXPECT_EQ(321 - 320 - 1, marks[20].nTickY);
  CLineChartModel odd = chart;
  odd.nGridStep = 0;  // no step: only the bottom label, no division by zero
  EXPECT_EQ(1u, odd.Scale(100).size());
  odd.nMax = 0;
  odd.nGridStep = 500;
  EXPECT_EQ(100, odd.ValueY(5, 100));
}

_CPacketInfo Packet(const char* src, const char* dst, uint16_t srcPort, uint16_t dstPort, uint32_t size) {
  _CPacketInfo p;
  std::strcpy(p.szProtocol, "TCP");
  p.dwSrcIP = InetAddr(src);
  p.dwDstIP = InetAddr(dst);
  p.wSrcPort = srcPort;
  p.wDstPort = dstPort;
  p.dwSize = size;
  std::strcpy(p.szTime, "2024-05-06 07:08:09");
  return p;
}

TEST(PacketList, FilterModesSplitTheServersOwnPacketsFromArrivingOnes) {
  const std::vector<std::string> own{"192.0.2.10", "127.0.0.1"};
  const bool leaves = PacketLeaves(Packet("192.0.2.10", "8.8.8.8", 80, 40000, 60), own);
  const bool arrives = PacketLeaves(Packet("8.8.8.8", "192.0.2.10", 40000, 80, 60), own);
  EXPECT_TRUE(leaves);
  EXPECT_FALSE(arrives);
  EXPECT_FALSE(PacketLeaves(Packet("192.0.2.1", "8.8.8.8", 80, 1, 60), own));  // exact text only
  EXPECT_TRUE(FilterKeeps(kFilterArriving, arrives));
  EXPECT_FALSE(FilterKeeps(kFilterArriving, leaves));
  EXPECT_FALSE(FilterKeeps(kFilterLeaving, arrives));
  EXPECT_TRUE(FilterKeeps(kFilterLeaving, leaves));
  EXPECT_TRUE(FilterKeeps(kFilterAll, arrives));
  EXPECT_TRUE(FilterKeeps(kFilterAll, leaves));
}

TEST(PacketList, RowTextsAndColumns) {
  _CPacketInfo p = Packet("203.0.113.7", "192.0.2.10", 65535, 80, 4294967295u);
  std::memset(p.szProtocol, 'X', sizeof p.szProtocol);  // a driver text without its NUL
  std::vector<std::string> texts;
  for (int column = 0; column <= kPacketColumns; ++column) texts.push_back(PacketCellText(12, p, column));
  EXPECT_EQ((std::vector<std::string>{"12", std::string(32, 'X'), "203.0.113.7", "65535", "192.0.2.10", "80",
                                      "4294967295", "2024-05-06 07:08:09", ""}),
            texts);
  const std::vector<CColumnSpec> columns = PacketColumns(900);
  ASSERT_EQ(8u, columns.size());
  EXPECT_STREQ("序号", columns[0].szTitle);
  EXPECT_EQ(90, columns[0].nWidth);
  EXPECT_EQ(180, columns[2].nWidth);
  EXPECT_EQ(100, columns[3].nWidth);
  EXPECT_EQ(112, columns[6].nWidth);
  EXPECT_STREQ("访问时间", columns[7].szTitle);
  EXPECT_EQ(160, columns[7].nWidth);
}

TEST(PacketList, TheRowAfterFiveThousandEmptiesTheListAndNumberingRestarts) {
  CPacketRowCounter counter;
  int rows = 0;
  for (int i = 0; i < kMaxPacketRows; ++i) {
    const CPacketRowPlan plan = counter.Plan(true, true, true, rows);
    ASSERT_TRUE(plan.bInsert);
    ASSERT_EQ(i, plan.nRow);
    ASSERT_FALSE(plan.bEmpty);
    ++rows;
  }
  CPacketRowPlan plan = counter.Plan(true, true, true, rows);  // the 5001st
  EXPECT_TRUE(plan.bInsert);
  EXPECT_EQ(5000, plan.nRow);
  EXPECT_TRUE(plan.bEmpty);
  EXPECT_EQ(0, counter.Plan(true, true, true, 0).nRow);
  // A packet the filter drops, or one that comes while the window is hidden, adds nothing.
  plan = counter.Plan(false, true, true, 1);
  EXPECT_FALSE(plan.bInsert || plan.bScroll || plan.bEmpty);
  plan = counter.Plan(true, false, true, 0);
  EXPECT_FALSE(plan.bInsert || plan.bScroll);
  EXPECT_EQ(1, counter.RowCount());
  EXPECT_FALSE(counter.Plan(true, true, false, 1).bScroll);
  counter.Emptied();
  EXPECT_EQ(0, counter.Plan(true, true, true, 0).nRow);
}

TEST(Ranking, RowsAreRankedCopiesWithCountsOrMegabytes) {
  ClearIpStats(g_IpInTable);
  ClearIpStats(g_IpOutTable);
  for (int i = 0; i < 3; ++i) CountIncoming(g_IpInTable, "198.51.100.1");
  CountIncoming(g_IpInTable, "198.51.100.2");
  for (int i = 0; i < 5; ++i) CountIncoming(g_IpInTable, "198.51.100.3");
  CountOutgoing(g_IpOutTable, "198.51.100.4", 921600);   // 0.9 MB
  CountOutgoing(g_IpOutTable, "198.51.100.5", 2662400);  // 2.6 MB
  CRankCopy copy;
  FillRankCopy(copy, 0);
  std::vector<CRankRow> rows = RankingRows(copy, 0);
  ASSERT_EQ(30u, rows.size());
  EXPECT_EQ("0", rows[0].strId);
  EXPECT_EQ("198.51.100.3", rows[0].strIp);
  EXPECT_EQ("5", rows[0].strValue);
  EXPECT_EQ(5u, rows[0].nChartValue);
  EXPECT_EQ("198.51.100.2", rows[2].strIp);
  EXPECT_EQ("", rows[29].strIp);  // empty slots are listed too
  EXPECT_EQ("0", rows[29].strValue);
  EXPECT_EQ("29", rows[29].strId);

  FillRankCopy(copy, 1);
  rows = RankingRows(copy, 1);
  EXPECT_EQ("198.51.100.5", rows[0].strIp);
  EXPECT_EQ("2.6000", rows[0].strValue);
  EXPECT_EQ(2u, rows[0].nChartValue);  // plotted truncated
  EXPECT_EQ("0.9000", rows[1].strValue);
  EXPECT_EQ(0u, rows[1].nChartValue);
  EXPECT_EQ("0.0000", rows[2].strValue);
  EXPECT_STREQ("次数", RankValueTitle(0));
  EXPECT_STREQ("MB", RankValueTitle(1));
  ClearIpStats(g_IpInTable);
  ClearIpStats(g_IpOutTable);
}

TEST(Ranking, CaptionAndSelectionByAddress) {
  EXPECT_EQ("次/1分钟统计用:42秒(防火墙参考值)", WindowCaption(0, 42));
  EXPECT_EQ("MB/1分钟统计用:0秒(防火墙参考值)", WindowCaption(1, 0));
  std::vector<CRankRow> rows(3);
  rows[0].strIp = "10.0.0.1";
  rows[1].strIp = " 10.0.0.2 ";
  rows[2].strIp = "10.0.0.2";
  EXPECT_EQ(1, FindRankRow(rows, "10.0.0.2"));
  EXPECT_EQ(0, FindRankRow(rows, "\t10.0.0.1 "));
  EXPECT_EQ(-1, FindRankRow(rows, "10.0.0.3"));
  EXPECT_EQ(-1, FindRankRow(rows, "  "));  // an empty key selects nothing, not an empty slot
  rows[2].strIp = "";
  EXPECT_EQ(-1, FindRankRow(rows, ""));
}

}  // namespace
