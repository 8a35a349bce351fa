// CPU, memory and disk sampling, the disk table, the resource alerts and the daily restart.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <map>
#include <stdexcept>

#include "config/settings.h"
#include "resources/cpu_usage.h"
#include "resources/disk_info.h"
#include "resources/memory_load.h"
#include "resources/resource_watch.h"

namespace {

constexpr int32_t kLengthMismatch = static_cast<int32_t>(0xC0000004);
constexpr int64_t kSecond = 10000000;  // 100-nanosecond units

void PutLe64(uint8_t* at, int64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

// The system-information query of one build width: it insists on that width's basic size,
// as the system does.
class CFakeSystemInformation : public ISystemInformation {
 public:
  CFakeSystemInformation(CSystemInfoLayout layout, uint8_t processors) : layout(layout), processors(processors) {}
  bool Available() override { return available; }
  int32_t Query(uint32_t infoClass, void* buffer, uint32_t length) override {
    auto* bytes = static_cast<uint8_t*>(buffer);
    if (failNext) {
      failNext = false;
      return kLengthMismatch;
    }
    switch (infoClass) {
      case kBasicInformation:
        if (length != layout.nBasicSize) return kLengthMismatch;
        std::memset(bytes, 0, length);
        bytes[layout.nProcessorsOffset] = processors;
        return 0;
      case kPerformanceInformation:
        if (length != kPerformanceInfoSize) return kLengthMismatch;
        PutLe64(bytes, idle);
        return 0;
      case kTimeOfDayInformation:
        if (length != kTimeOfDayInfoSize) return kLengthMismatch;
        PutLe64(bytes + 8, system);
        return 0;
      default:
        return kLengthMismatch;
    }
  }
  // One interval: the wall clock moves by seconds, the processors idle for idleSeconds together.
  void Pass(double seconds, double idleSeconds) {
    system += static_cast<int64_t>(seconds * kSecond);
    idle += static_cast<int64_t>(idleSeconds * kSecond);
  }

  CSystemInfoLayout layout;
  uint8_t processors;
  bool available = true;
  bool failNext = false;
  int64_t idle = 5000 * kSecond;
  int64_t system = 133000000000000000;
};

TEST(CpuUsage, TwoProcessorsOneBusyGiveFiftyFromTheSecondSampleInEitherLayout) {
  for (const CSystemInfoLayout layout : {kLayout32, kLayout64}) {
    CFakeSystemInformation info(layout, 2);
    CCpuSampler sampler(info, layout);
    ASSERT_TRUE(sampler.Begin());
    EXPECT_EQ(2u, sampler.Processors());
    EXPECT_EQ(0, sampler.GetCpuUsage());
    sampler.Sample();  // the baseline only
    EXPECT_EQ(0, sampler.GetCpuUsage());
    info.Pass(1, 1);  // one processor idle the whole second, the other busy
    sampler.Sample();
    EXPECT_EQ(50, sampler.GetCpuUsage());  // 50.5 truncated
    info.Pass(1, 0.5);
    sampler.Sample();
    EXPECT_EQ(75, sampler.GetCpuUsage());
  }
  // The layout of the other width is refused, as the system refuses it.
  CFakeSystemInformation wide(kLayout64, 4);
  EXPECT_FALSE(CCpuSampler(wide, kLayout32).Begin());
}

TEST(CpuUsage, FailedQueriesKeepTheFigureAndOddIntervalsGiveNone) {
  CFakeSystemInformation info(kBuildLayout, 4);
  CCpuSampler sampler(info);
  ASSERT_TRUE(sampler.Begin());
  sampler.Sample();
  info.Pass(1, 1);  // four processors, idle one second in all: 75
  sampler.Sample();
  EXPECT_EQ(75, sampler.GetCpuUsage());
  info.Pass(1, 2);
  info.failNext = true;
  sampler.Sample();  // skipped, and the baseline stays where it was
  EXPECT_EQ(75, sampler.GetCpuUsage());
  info.Pass(1, 2);
  sampler.Sample();  // two seconds, four idle: 50
  EXPECT_EQ(50, sampler.GetCpuUsage());
  info.Pass(0, 0);  // no time passed
  sampler.Sample();
  EXPECT_EQ(50, sampler.GetCpuUsage());
  info.Pass(-60, 1);  // the clock was set back
  sampler.Sample();
  EXPECT_EQ(50, sampler.GetCpuUsage());
  info.Pass(1, 4.2);  // idle read a moment later than the clock: never below 0
  sampler.Sample();
  EXPECT_EQ(0, sampler.GetCpuUsage());

  CFakeSystemInformation missing(kBuildLayout, 2);
  missing.available = false;
  EXPECT_FALSE(CCpuSampler(missing).Begin());
  // Large counts: the high half counts 2^32 each, the low half unsigned.
  EXPECT_DOUBLE_EQ(4294967296.0 + 4294967295.0, CountAsDouble((int64_t{1} << 32) | 0xFFFFFFFFu));
}

class CFakeMemory : public IMemoryStatus {
 public:
  bool MemoryLoad(uint32_t& percent) override {
    if (raise) throw std::runtime_error("memory");
    percent = load;
    return ok;
  }
  uint32_t load = 0;
  bool ok = true;
  bool raise = false;
};

TEST(MemoryUsage, LoadInPercentAndZeroWhenTheQueryFailsOrRaises) {
  CFakeMemory memory;
  memory.load = 63;
  EXPECT_EQ(63, MemoryUsagePercent(memory));
  memory.load = 250;
  EXPECT_EQ(100, MemoryUsagePercent(memory));
  memory.ok = false;
  EXPECT_EQ(0, MemoryUsagePercent(memory));
  memory.raise = true;
  EXPECT_EQ(0, MemoryUsagePercent(memory));
}

constexpr uint64_t kGb = uint64_t{1} << 30;

struct FakeDrive {
  unsigned type = kFixedDrive;
  uint64_t total = 0, free = 0;
  bool fails = false;
};

class CFakeDisks : public IDiskQuery {
 public:
  uint32_t LogicalDrives() override {
    uint32_t mask = 0;
    for (const auto& d : drives) mask |= 1u << (d.first - 'A');
    return mask;
  }
  unsigned DriveType(const std::string& drive) override {
    asked.push_back(drive);
    return drives.at(drive[0]).type;
  }
  bool FreeSpace(const std::string& drive, uint64_t& total, uint64_t& free) override {
    const FakeDrive& d = drives.at(drive[0]);
    total = d.total;
    free = d.free;
    return !d.fails;
  }
  std::map<char, FakeDrive> drives;
  std::vector<std::string> asked;
};

uint64_t Bytes(double gb) { return static_cast<uint64_t>(gb * kGb); }

TEST(DiskInfo, RecordsTotalsAndTableOfTwoDisks) {
  CFakeDisks disks;
  disks.drives['C'] = {kFixedDrive, Bytes(1.5), Bytes(0.6)};
  disks.drives['D'] = {kFixedDrive, Bytes(1.5), Bytes(0.6)};
  CDiskList list;
  _Cdisktotal total;
  GetDiskInfo(disks, list, total);
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ("C:", list[0]->strDrive);
  EXPECT_EQ("D:", list[1]->strDrive);
  EXPECT_FLOAT_EQ(0.6f, list[0]->fFree);
  EXPECT_FLOAT_EQ(1.5f, list[0]->fTotal);
  EXPECT_EQ(1, total.nFree);  // 1.2 GB summed, truncated
  EXPECT_EQ(3, total.nTotal);

  const CDiskTable table = DiskTableRows(list, total, "");
  const std::vector<std::vector<std::string>> expected = {
      {"0", "C:", "1.50G", "0.60G", "40.00%"},
      {"1", "D:", "1.50G", "0.60G", "40.00%"},
      {"2", "全部", "3G", "1G", "33.33%"},
  };
  EXPECT_EQ(expected, table.rows);
  EXPECT_EQ("", table.strLowDrive);
}

TEST(DiskInfo, OnlyFixedDisksFromAToJAndAFailedQueryEndsTheWalk) {
  CFakeDisks disks;
  disks.drives['A'] = {2, 0, 0};            // removable
  disks.drives['C'] = {kFixedDrive, 40 * kGb, 10 * kGb};
  disks.drives['E'] = {5, 1 * kGb, 0};      // CD
  disks.drives['F'] = {4, 100 * kGb, 0};    // network
  disks.drives['G'] = {6, 2 * kGb, kGb};    // RAM disk
  disks.drives['J'] = {kFixedDrive, 20 * kGb, 5 * kGb};
  disks.drives['K'] = {kFixedDrive, 500 * kGb, 400 * kGb};
  CDiskList list;
  _Cdisktotal total;
  GetDiskInfo(disks, list, total);
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ("C:", list[0]->strDrive);
  EXPECT_EQ("J:", list[1]->strDrive);
  EXPECT_EQ(60, total.nTotal);
  EXPECT_EQ(15, total.nFree);
  EXPECT_EQ(std::vector<std::string>({"A:", "C:", "E:", "F:", "G:", "J:"}), disks.asked);

  disks.drives['D'] = {kFixedDrive, 0, 0, true};  // its free-space query fails
  list.clear();
  const _Cdisktotal before = {7, 8, 87.5f};
  total = before;
  GetDiskInfo(disks, list, total);
  ASSERT_EQ(1u, list.size());  // C: stays
  EXPECT_EQ(7, total.nFree);   // totals not written
  EXPECT_EQ(8, total.nTotal);

  CFakeDisks none;
  list.clear();
  GetDiskInfo(none, list, total);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(8, total.nTotal);
}

TEST(DiskInfo, TotalsBelowOneGbOrWithoutDisksHaveADefinedRatio) {
  CFakeDisks cdOnly;
  cdOnly.drives['E'] = {5, kGb, 0};
  CDiskList list;
  _Cdisktotal total = {3, 9, 33.33f};
  GetDiskInfo(cdOnly, list, total);
  EXPECT_EQ(0, total.nTotal);
  EXPECT_EQ(0.0f, total.fFreeRatio);
  EXPECT_EQ((std::vector<std::string>{"0", "全部", "0G", "0G", "0.00%"}), DiskTableRows(list, total, "").rows.back());

  CFakeDisks small;
  small.drives['C'] = {kFixedDrive, kGb / 2, kGb / 8};
  small.drives['D'] = {kFixedDrive, 0, 0};  // an empty volume: no ratio of its own either
  GetDiskInfo(small, list, total);
  EXPECT_EQ(0, total.nTotal);
  EXPECT_FLOAT_EQ(25.0f, total.fFreeRatio);
  const CDiskTable table = DiskTableRows(list, total, "");
  EXPECT_EQ("0.00%", table.rows[1][4]);
  EXPECT_EQ("25.00%", table.rows[2][4]);
}

TEST(DiskInfo, LowDriveIsTheLastShowingNoSpaceAndNotYetAlerted) {
  EXPECT_TRUE(IsOutOfSpace(0.004f));  // shown as 0.00
  EXPECT_FALSE(IsOutOfSpace(0.006f));  // shown as 0.01
  CFakeDisks disks;
  disks.drives['C'] = {kFixedDrive, 50 * kGb, Bytes(0.004)};
  disks.drives['D'] = {kFixedDrive, 50 * kGb, Bytes(0.006)};
  disks.drives['E'] = {kFixedDrive, 50 * kGb, Bytes(0.003)};
  CDiskList list;
  _Cdisktotal total;
  GetDiskInfo(disks, list, total);
  CDiskTable table = DiskTableRows(list, total, "");
  EXPECT_EQ("0.00G", table.rows[0][3]);
  EXPECT_EQ("0.01G", table.rows[1][3]);
  EXPECT_EQ("E:", table.strLowDrive);  // the later of C: and E:
  EXPECT_EQ("C:", DiskTableRows(list, total, "E:,").strLowDrive);
  EXPECT_EQ("", DiskTableRows(list, total, "E:,C:,").strLowDrive);
}

class ResourceWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.diskchk = settings.cpuchk = settings.memorychk = true;
    watch.Reset();
  }
  // One alert tick a day after the last one.
  void NextDay() {
    now += 86401;
    watch.CheckAlerts(now, lastCheck, settings, "192.0.2.1", [this](const std::string& m) { sent.push_back(m); });
  }
  void Display(int cpu, int memory, int ticks) {
    for (int i = 0; i < ticks; ++i) watch.CountUsage(cpu, memory);
  }

  CSettings settings;
  CResourceWatch watch;
  int64_t now = 1700000000;
  int64_t lastCheck = 0;
  std::vector<std::string> sent;
};

TEST_F(ResourceWatchTest, DiskAlertOncePerKindUntilTheRearmAndADriveOnce) {
  watch.SetLowDrive("D:");
  NextDay();
  EXPECT_EQ(std::vector<std::string>{"192.0.2.1服务器D:空间不足,请清理!"}, sent);
  EXPECT_EQ("D:,", watch.AlertedDrives());
  watch.SetLowDrive("E:");
  NextDay();  // the disk kind was sent: E: waits for the re-arm
  EXPECT_EQ(1u, sent.size());
  watch.Rearm();
  EXPECT_EQ("", watch.AlertedDrives());
  NextDay();
  ASSERT_EQ(2u, sent.size());
  EXPECT_EQ("192.0.2.1服务器E:空间不足,请清理!", sent[1]);
  watch.Rearm();
  watch.SetLowDrive("  ");  // blanks are no drive
  NextDay();
  EXPECT_EQ(2u, sent.size());
}

TEST_F(ResourceWatchTest, AtMostOneCheckADayTheFirstAtOnce) {
  watch.SetLowDrive("C:");
  now += 120;
  watch.CheckAlerts(now, lastCheck, settings, "192.0.2.1", [this](const std::string& m) { sent.push_back(m); });
  EXPECT_EQ(1u, sent.size());  // the first tick checks
  EXPECT_EQ(now, lastCheck);
  watch.Rearm();
  now += 86400;  // exactly a day: not yet
  watch.CheckAlerts(now, lastCheck, settings, "192.0.2.1", [this](const std::string& m) { sent.push_back(m); });
  EXPECT_EQ(1u, sent.size());
  now = lastCheck - 3600;  // the clock was set back: checks rather than falling silent
  watch.CheckAlerts(now, lastCheck, settings, "192.0.2.1", [this](const std::string& m) { sent.push_back(m); });
  EXPECT_EQ(2u, sent.size());
}

TEST_F(ResourceWatchTest, CpuAndMemoryAlertAfterTwelveHoursAtNinetyEightAndOnceUntilTheRearm) {
  Display(100, 97, 60);  // two minutes pinned
  NextDay();
  EXPECT_TRUE(sent.empty());
  Display(98, 99, kHighUsageTicks - 60);
  NextDay();  // exactly 21600: not above
  EXPECT_TRUE(sent.empty());
  Display(99, 99, 1);
  NextDay();
  EXPECT_EQ(std::vector<std::string>{"192.0.2.1服务器cpu利用率超过百分之98"}, sent);
  EXPECT_EQ(0, watch.CpuHighCount());
  Display(100, 100, kHighUsageTicks + 1);
  NextDay();
  ASSERT_EQ(2u, sent.size());  // memory now; cpu was sent already
  EXPECT_EQ("192.0.2.1服务器内存利用率超过百分之98", sent[1]);
  NextDay();
  EXPECT_EQ(2u, sent.size());
  watch.Rearm();
  NextDay();
  ASSERT_EQ(3u, sent.size());  // the cpu count kept growing meanwhile
  EXPECT_EQ("192.0.2.1服务器cpu利用率超过百分之98", sent[2]);
}

TEST_F(ResourceWatchTest, SwitchedOffKindsSendNothingAndStayArmed) {
  settings.diskchk = settings.cpuchk = settings.memorychk = false;
  watch.SetLowDrive("C:");
  Display(100, 100, kHighUsageTicks + 1);
  NextDay();
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ("", watch.AlertedDrives());
  settings.diskchk = settings.cpuchk = true;
  NextDay();
  EXPECT_EQ(2u, sent.size());
}

TEST(SelfRestart, AtFourAfterAFullDayOfProtectionOncePerHour) {
  EXPECT_TRUE(RestartDue(86401, 4));
  EXPECT_FALSE(RestartDue(86400, 4));
  EXPECT_FALSE(RestartDue(200000, 3));
  EXPECT_FALSE(RestartDue(200000, 5));
  CResourceWatch watch;
  EXPECT_FALSE(watch.TakeRestartTurn(86400, 4));
  EXPECT_TRUE(watch.TakeRestartTurn(86401, 4));
  EXPECT_FALSE(watch.TakeRestartTurn(86403, 4));  // the copy did not start: not every tick
  EXPECT_FALSE(watch.TakeRestartTurn(90000, 5));
  EXPECT_TRUE(watch.TakeRestartTurn(172800, 4));  // the next day
}

TEST(SelfRestart, BlockAlertSpacingResetsToALocalTimeOf1976) {
  std::tm day = {};
  day.tm_year = 76;
  day.tm_mon = 10;
  day.tm_mday = 15;
  day.tm_isdst = -1;
  EXPECT_EQ(static_cast<int64_t>(std::mktime(&day)), LocalTimeFromText("1976-11-15 00:00:00"));
  EXPECT_EQ(-1, LocalTimeFromText("1976-11-15"));
}

}  // namespace
