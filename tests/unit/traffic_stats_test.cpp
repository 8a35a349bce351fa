#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>

#include "common/crt_text.h"
#include "driver/driver_link.h"
#include "traffic/ip_stats.h"
#include "traffic/packet_pipeline.h"
#include "traffic/packet_waits.h"

namespace {

std::string Ip(int i) { return "10.0.0." + std::to_string(i); }

TEST(IpStats, ThirtyFirstAndThirtySecondAddressesReplaceSlotsZeroAndOne) {
  CIpStatTable table = {};
  for (int i = 1; i <= 30; ++i) CountIncoming(table, Ip(i));
  EXPECT_EQ(1, table[0].bCursor);  // wrapped round to the oldest slot
  CountIncoming(table, Ip(31));
  CountIncoming(table, Ip(32));
  EXPECT_STREQ("10.0.0.31", table[0].szIp);
  EXPECT_STREQ("10.0.0.32", table[1].szIp);
  EXPECT_STREQ("10.0.0.3", table[2].szIp);
  EXPECT_EQ(1, table[2].bCursor);
  CountIncoming(table, Ip(1));  // came back: starts again from 1
  EXPECT_STREQ("10.0.0.1", table[2].szIp);
  EXPECT_EQ(1, table[2].nCount);
}

TEST(IpStats, RepeatedAddressCountsUpInItsSlot) {
  CIpStatTable table = {};
  CountIncoming(table, "8.8.8.8");
  CountIncoming(table, "1.1.1.1");
  CountIncoming(table, "8.8.8.8");
  EXPECT_EQ(2, table[0].nCount);
  EXPECT_EQ(1, table[1].nCount);
  EXPECT_EQ(0.0f, table[0].fMb);
  EXPECT_EQ(1, table[2].bCursor);
}

TEST(IpStats, MegabytesAreMillionTwentyFourThousandBytes) {
  CIpStatTable table = {};
  CountOutgoing(table, "8.8.8.8", 1024000);
  EXPECT_FLOAT_EQ(1.0f, table[0].fMb);
  CountOutgoing(table, "8.8.8.8", 512000);
  EXPECT_FLOAT_EQ(1.5f, table[0].fMb);
  EXPECT_EQ(2, table[0].nCount);
  CountOutgoing(table, "9.9.9.9", 0xFFFFFFFFu);  // size is unsigned
  EXPECT_NEAR(4194.304, table[1].fMb, 0.01);
}

TEST(IpStats, SortIsStableAndDescending) {
  _CIpStat records[4] = {};
  const int counts[4] = {5, 9, 9, 1};
  for (int i = 0; i < 4; ++i) {
    std::snprintf(records[i].szIp, sizeof(records[i].szIp), "r%d", i);
    records[i].nCount = counts[i];
    records[i].fMb = static_cast<float>(4 - i);
  }
  SortIpStats(records, 4, 0);
  EXPECT_STREQ("r1", records[0].szIp);
  EXPECT_STREQ("r2", records[1].szIp);
  EXPECT_STREQ("r0", records[2].szIp);
  EXPECT_STREQ("r3", records[3].szIp);
  SortIpStats(records, 4, 1);  // by megabytes: r0 4, r1 3, r2 2, r3 1
  EXPECT_STREQ("r0", records[0].szIp);
  EXPECT_STREQ("r3", records[3].szIp);
}

TEST(IpStats, RefreshCacheEmptiesBothTablesAndAsksForABatch) {
  CountIncoming(g_IpInTable, "1.2.3.4");
  CountOutgoing(g_IpOutTable, "5.6.7.8", 100);
  g_bRefill = false;
  RefreshCache();
  EXPECT_TRUE(g_bRefill);
  EXPECT_EQ(0, g_IpInTable[0].nCount);
  EXPECT_STREQ("", g_IpOutTable[0].szIp);
  EXPECT_EQ(0, g_IpInTable[1].bCursor);
}

class NoLock : public IPacketLock {
 public:
  void Lock() override { ++locks; }
  void Unlock() override { --locks; }
  int locks = 0;
};

class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    buffer = std::make_unique<_CPacketSnapshot>();
    buffer->Clear();
    g_bRefill = true;
    g_nListCursor = 0;
    g_nStatsCursor = 0;
    g_bMonitorShown = false;
    ClearIpStats(g_IpInTable);
    ClearIpStats(g_IpOutTable);
    next = std::make_unique<_CPacketSnapshot>();
    next->Clear();
    pipeline = std::make_unique<CPacketPipeline>(
        *buffer, lock,
        [this](_CPacketSnapshot* out) {
          ++fetches;
          if (!driverAccepts) return false;
          *out = *next;
          return true;
        },
        [this] { return idle; });
  }

  void Put(int slot, const char* src, const char* dst, uint32_t size) {
    _CPacketInfo info;
    std::strcpy(info.szProtocol, "TCP");
    info.dwSrcIP = InetAddr(src);
    info.dwDstIP = InetAddr(dst);
    info.dwSize = size;
    next->SetSlot(slot, info);
  }

  std::unique_ptr<_CPacketSnapshot> buffer, next;
  NoLock lock;
  bool idle = true, driverAccepts = true;
  int fetches = 0;
  std::unique_ptr<CPacketPipeline> pipeline;
  const std::vector<std::string> local{"192.0.2.10", "127.0.0.1"};
};

TEST_F(PipelineTest, StatisticsCountABatchFromItsStartAndAskForTheNext) {
  for (int i = 5; i <= 9; ++i) Put(i, "203.0.113.7", "192.0.2.10", 60);
  next->SetStart(5);
  pipeline->ReaderStep();
  EXPECT_EQ(1, fetches);
  EXPECT_FALSE(g_bRefill);
  for (int i = 0; i < 5; ++i) pipeline->StatsStep(local);
  EXPECT_STREQ("203.0.113.7", g_IpInTable[0].szIp);
  EXPECT_EQ(5, g_IpInTable[0].nCount);
  EXPECT_FALSE(g_bRefill);
  pipeline->StatsStep(local);  // slot 10 is empty: end of batch
  EXPECT_TRUE(g_bRefill);
  EXPECT_EQ(0, g_nStatsCursor);
  EXPECT_EQ(0, lock.locks);
}

TEST_F(PipelineTest, OutgoingPacketsCountByDestinationWithBytes) {
  Put(0, "192.0.2.10", "8.8.8.8", 1024000);
  Put(1, "8.8.8.8", "192.0.2.10", 100);
  pipeline->ReaderStep();
  pipeline->StatsStep(local);
  pipeline->StatsStep(local);
  EXPECT_STREQ("8.8.8.8", g_IpOutTable[0].szIp);
  EXPECT_FLOAT_EQ(1.0f, g_IpOutTable[0].fMb);
  EXPECT_EQ(1, g_IpOutTable[0].nCount);
  EXPECT_STREQ("8.8.8.8", g_IpInTable[0].szIp);
  EXPECT_EQ(1, g_IpInTable[0].nCount);
}

TEST_F(PipelineTest, ReaderWaitsWhileTheDriverIsBusyOrTheBatchIsInUse) {
  Put(0, "203.0.113.7", "192.0.2.10", 60);
  idle = false;
  pipeline->ReaderStep();
  EXPECT_EQ(0, fetches);
  idle = true;
  pipeline->ReaderStep();
  pipeline->ReaderStep();  // the batch is not used up yet
  EXPECT_EQ(1, fetches);
}

TEST_F(PipelineTest, RefusedOrEmptyReadKeepsTheCursorsAndTriesAgainAtTheNextStep) {
  g_nStatsCursor = 7;
  driverAccepts = false;
  EXPECT_FALSE(pipeline->ReaderStep());
  EXPECT_EQ(7, g_nStatsCursor);
  EXPECT_TRUE(g_bRefill);  // the consumers need not run to ask again
  EXPECT_FALSE(pipeline->StatsStep(local));
  driverAccepts = true;    // a quiet server: accepted, but no packets
  EXPECT_FALSE(pipeline->ReaderStep());
  EXPECT_TRUE(g_bRefill);
  EXPECT_FALSE(pipeline->StatsStep(local));
  EXPECT_EQ(7, g_nStatsCursor);
  Put(3, "203.0.113.7", "192.0.2.10", 60);
  next->SetStart(3);
  EXPECT_TRUE(pipeline->ReaderStep());  // a batch with packets wakes the consumers
  EXPECT_EQ(3, fetches);
  EXPECT_TRUE(pipeline->StatsStep(local));
}

TEST_F(PipelineTest, AcceptedReadClearsBothMarkArrays) {
  // A driver that returns the slots but leaves the marks of the last batch in place.
  for (int i = 0; i < 3; ++i) {
    Put(i, "203.0.113.7", "192.0.2.10", 60);
    next->SetListTaken(i, 1);
    next->SetStatsTaken(i, 1);
  }
  next->SetListTaken(kPacketSlots - 1, 1);
  next->SetStatsTaken(kPacketSlots - 1, 1);
  ASSERT_TRUE(pipeline->ReaderStep());
  for (int i = 0; i < kPacketSlots; ++i) {
    ASSERT_EQ(0u, buffer->ListTaken(i)) << i;
    ASSERT_EQ(0u, buffer->StatsTaken(i)) << i;
  }
  int counted = 0;
  while (pipeline->StatsStep(local)) ++counted;
  EXPECT_EQ(3, counted);
  EXPECT_EQ(3, g_IpInTable[0].nCount);
}

// Records what a consumer thread would do between its steps.
class CRecordingWaits : public IPacketWaits {
 public:
  std::vector<std::string> log;
  void HoldFineTimer(bool hold) override {
    if (hold != held) log.push_back(hold ? "fine timer on" : "fine timer off");
    held = hold;
  }
  void Pause(int ms) override { log.push_back("pause " + std::to_string(ms)); }
  void WaitForBatch(int ms) override { log.push_back("wait for batch " + std::to_string(ms)); }
  bool held = false;
};

TEST_F(PipelineTest, ConsumersPaceRecordsOnAFineTimerAndSleepWhileThereAreNone) {
  CRecordingWaits waits;
  auto stats = [this] { return pipeline->StatsStep(local); };
  ConsumerTurn(stats, waits);  // nothing fetched yet
  pipeline->ReaderStep();      // a quiet server
  ConsumerTurn(stats, waits);
  EXPECT_EQ((std::vector<std::string>{"wait for batch 1000", "wait for batch 1000"}), waits.log);

  waits.log.clear();
  g_nShowDelay = 7;
  Put(0, "203.0.113.7", "192.0.2.10", 60);
  Put(1, "203.0.113.7", "192.0.2.10", 60);
  ASSERT_TRUE(pipeline->ReaderStep());
  for (int i = 0; i < 3; ++i) ConsumerTurn(stats, waits);
  g_nShowDelay = 3;
  EXPECT_EQ((std::vector<std::string>{"fine timer on", "pause 7", "pause 7", "fine timer off", "wait for batch 1000"}),
            waits.log);
  EXPECT_EQ(2, g_IpInTable[0].nCount);
}

// The system's timers as the consumer would use them, recorded.
class CRecordingTimers : public IConsumerTimers {
 public:
  explicit CRecordingTimers(bool highResolution) : m_bHighResolution(highResolution) {}
  std::vector<std::string> log;
  bool HasHighResolutionTimer() override { return m_bHighResolution; }
  void WaitHighResolution(int ms) override { log.push_back("high-resolution wait " + std::to_string(ms)); }
  bool BeginFinePeriod() override {
    log.push_back("1 ms period on");
    return true;
  }
  void EndFinePeriod() override { log.push_back("1 ms period off"); }
  void Sleep(int ms) override { log.push_back("sleep " + std::to_string(ms)); }
  void WaitForWake(int ms) override { log.push_back("wait for wake " + std::to_string(ms)); }

 private:
  bool m_bHighResolution;
};

// Where the system makes a high-resolution waitable timer, the consumers keep their pace with it
// and never raise the process-wide timer resolution (which a hidden process may not get);
// elsewhere they hold the 1 ms period while they take records, as before.
TEST(ConsumerWaits, AHighResolutionTimerKeepsThePaceWhereTheSystemHasOne) {
  int turn = 0;
  auto twoRecordsThenNone = [&turn] { return ++turn % 3 != 0; };
  for (const bool highResolution : {true, false}) {
    CRecordingTimers timers(highResolution);
    CPacedWaits waits(timers);
    turn = 0;
    g_nShowDelay = 3;
    for (int i = 0; i < 3; ++i) ConsumerTurn(twoRecordsThenNone, waits);
    const std::vector<std::string> expected =
        highResolution ? std::vector<std::string>{"high-resolution wait 3", "high-resolution wait 3", "wait for wake 1000"}
                       : std::vector<std::string>{"1 ms period on", "sleep 3", "sleep 3", "1 ms period off",
                                                  "wait for wake 1000"};
    EXPECT_EQ(expected, timers.log) << highResolution;
  }
}

TEST(ConsumerTurn, AFailingStepEndsItsTurnNotItsThread) {
  CRecordingWaits waits;
  waits.held = true;
  ConsumerTurn([]() -> bool { throw std::bad_alloc(); }, waits);
  ConsumerTurn([]() -> bool { throw std::runtime_error("page gone"); }, waits);
  EXPECT_EQ((std::vector<std::string>{"fine timer off", "wait for batch 1000", "wait for batch 1000"}), waits.log);
}

TEST_F(PipelineTest, MalformedStartIndexNeverReachesPastTheBuffer) {
  for (int32_t bad : {-1, -20000, 20000, 123456, INT32_MIN}) {
    Put(0, "203.0.113.7", "192.0.2.10", 60);
    next->SetStart(bad);
    g_bRefill = true;
    pipeline->ReaderStep();
    pipeline->StatsStep(local);
    EXPECT_TRUE(g_bRefill) << bad;
    EXPECT_EQ(0, g_IpInTable[0].nCount) << bad;
    g_bMonitorShown = true;
    g_bRefill = true;
    pipeline->ReaderStep();
    int rows = 0;
    pipeline->ListStep([&](const _CPacketInfo&) { ++rows; }, [] {}, false);
    EXPECT_EQ(0, rows) << bad;
    g_bMonitorShown = false;
  }
}

TEST_F(PipelineTest, ListFeederTakesRecordsOnlyWhileTheMonitorIsShown) {
  Put(0, "203.0.113.7", "192.0.2.10", 60);
  Put(1, "203.0.113.8", "192.0.2.10", 60);
  pipeline->ReaderStep();
  int rows = 0, clears = 0;
  auto sink = [&](const _CPacketInfo& info) {
    ++rows;
    EXPECT_EQ(60u, info.dwSize);
  };
  pipeline->ListStep(sink, [&] { ++clears; }, true);
  EXPECT_EQ(0, rows);
  EXPECT_EQ(1, clears);
  g_bMonitorShown = true;
  pipeline->ListStep(sink, [&] { ++clears; }, true);
  EXPECT_EQ(1, rows);
  // The slot the feeder took still counts for the statistics consumer.
  EXPECT_TRUE(pipeline->StatsStep(local));
  EXPECT_FALSE(g_bRefill);
  EXPECT_EQ(1, g_IpInTable[0].nCount);
  // Hidden while the rest is counted: shown again, it lists nothing of that batch.
  g_bMonitorShown = false;
  pipeline->ListStep(sink, [&] { ++clears; }, false);
  while (pipeline->StatsStep(local)) {
  }
  g_bMonitorShown = true;
  EXPECT_FALSE(pipeline->ListStep(sink, [&] { ++clears; }, false));
  EXPECT_EQ(1, rows);
  g_bMonitorShown = false;
}

// "停止监视" in the middle of a batch: the statistics go on counting it to its end, nothing is
// fetched over it; "开始监视" lets the list take up where the counting is.
TEST_F(PipelineTest, PausingTheListLeavesNoPacketUncounted) {
  g_bMonitorPaused = 0;
  for (int i = 0; i < 10; ++i) Put(i, "203.0.113.7", "192.0.2.10", 60);
  ASSERT_TRUE(pipeline->ReaderStep());
  g_bMonitorShown = true;
  int rows = 0;
  auto sink = [&](const _CPacketInfo&) { ++rows; };
  pipeline->ListStep(sink, [] {}, true);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(pipeline->StatsStep(local));
  EXPECT_TRUE(ToggleMonitorPause(*pipeline));
  EXPECT_EQ(1, g_bMonitorPaused.load());
  pipeline->ReaderStep();  // the reader's second comes round while paused
  EXPECT_EQ(1, fetches);
  while (pipeline->StatsStep(local)) {
  }
  EXPECT_EQ(10, g_IpInTable[0].nCount);
  // Resumed before the next batch: the batch is counted, so the list waits for the next one.
  EXPECT_FALSE(ToggleMonitorPause(*pipeline));
  EXPECT_EQ(0, g_bMonitorPaused.load());
  EXPECT_FALSE(pipeline->ListStep(sink, [] {}, true));
  EXPECT_EQ(1, rows);
  Put(10, "203.0.113.8", "192.0.2.10", 60);
  next->SetStart(10);
  ASSERT_TRUE(pipeline->ReaderStep());
  EXPECT_TRUE(pipeline->ListStep(sink, [] {}, true));
  EXPECT_EQ(2, rows);
  // Paused and resumed within a batch: the list goes on from the counting's place.
  for (int i = 11; i < 20; ++i) Put(i, "203.0.113.9", "192.0.2.10", 60);
  next->SetStart(11);
  while (pipeline->StatsStep(local)) {
  }
  ASSERT_TRUE(pipeline->ReaderStep());
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(pipeline->StatsStep(local));
  ToggleMonitorPause(*pipeline);
  ToggleMonitorPause(*pipeline);
  EXPECT_TRUE(pipeline->ListStep(sink, [] {}, true));  // slot 16, the first one not counted yet
  EXPECT_EQ(17, g_nListCursor.load());
  g_bMonitorShown = false;
}

// Whichever consumer runs ahead, the statistics count the whole batch and the list shows it.
TEST_F(PipelineTest, TheListNeverEndsABatchForTheStatisticsAndFinishesItsOwn) {
  for (int i = 0; i < 3; ++i) Put(i, "203.0.113.7", "192.0.2.10", 60);
  ASSERT_TRUE(pipeline->ReaderStep());
  g_bMonitorShown = true;
  int rows = 0;
  auto sink = [&](const _CPacketInfo&) { ++rows; };
  // The list runs ahead to the end of the batch: it waits there and asks for nothing.
  for (int i = 0; i < 5; ++i) pipeline->ListStep(sink, [] {}, true);
  EXPECT_EQ(3, rows);
  EXPECT_FALSE(g_bRefill);
  int counted = 0;
  while (pipeline->StatsStep(local)) ++counted;
  EXPECT_EQ(3, counted);
  EXPECT_TRUE(g_bRefill);  // the statistics ended the batch
  // Next batch: the statistics run ahead and end it; the list still takes it to its end.
  Put(3, "203.0.113.8", "192.0.2.10", 60);
  Put(4, "203.0.113.8", "192.0.2.10", 60);
  next->SetStart(3);
  ASSERT_TRUE(pipeline->ReaderStep());
  while (pipeline->StatsStep(local)) {
  }
  EXPECT_TRUE(g_bRefill);
  EXPECT_EQ(2, g_IpInTable[1].nCount);
  rows = 0;
  while (pipeline->ListStep(sink, [] {}, true)) {
  }
  EXPECT_EQ(2, rows);
  // Until the reader replaces the batch; a refused fetch leaves nothing to list.
  driverAccepts = false;
  pipeline->ReaderStep();
  g_nListCursor = 3;
  EXPECT_FALSE(pipeline->ListStep(sink, [] {}, true));
  g_bMonitorShown = false;
}

}  // namespace
