// The stand-in driver's own guards: test-only requests, injection bounds, initialised replies.
// Under Wine every process runs as the same administrator, so the device's refusal of other
// accounts cannot be shown here.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "common/crt_text.h"
#include "driver/driver_records.h"
#include "standin_driver_win32.h"

namespace {

CInjectPacket Packet(uint32_t count) {
  CInjectPacket p;
  p.dwSrcIP = InetAddr("203.0.113.7");
  p.dwDstIP = InetAddr("192.0.2.10");
  p.wSrcPort = 40000;
  p.wDstPort = 80;
  p.dwCount = count;
  return p;
}

HANDLE OpenDevice(const char* name) {
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The program's status request through a handle of the test's own.
bool StatusAnswered() {
  const HANDLE h = OpenDevice("\\\\.\\FIREWALLDRIVER");
  if (h == INVALID_HANDLE_VALUE) return false;
  uint8_t out[8] = {};
  DWORD got = 0;
  const BOOL ok = DeviceIoControl(h, kIoctlQuery, nullptr, 0, out, sizeof out, &got, nullptr);
  CloseHandle(h);
  return ok && got == 8 && GetLe32(out) == 1 && GetLe32(out + 4) == 1;
}

class Win32FirewallStandIn : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(EnsureDriverLoaded()); }
  void TearDown() override { EXPECT_TRUE(EnsureDriverLoaded()); }  // back in test mode
};

TEST_F(Win32FirewallStandIn, TestRequestsExistOnlyWhenLoadedInTestMode) {
  ASSERT_TRUE(SetDriverTestMode(false));
  ASSERT_TRUE(RestartDriverService());
  EXPECT_TRUE(StatusAnswered());
  EXPECT_FALSE(DriverInTestMode());
  uint32_t recorded = 0;
  EXPECT_FALSE(InjectPackets({Packet(1)}, &recorded));
  EXPECT_FALSE(ResetDriver(kResetPackets | kResetTables));
  CDriverCounters counters;
  EXPECT_FALSE(ReadCounters(&counters));

  // The device itself opens, names below it do not.
  const HANDLE sub = OpenDevice("\\\\.\\FIREWALLDRIVER\\sub");
  EXPECT_EQ(INVALID_HANDLE_VALUE, sub);
  if (sub != INVALID_HANDLE_VALUE) CloseHandle(sub);

  ASSERT_TRUE(SetDriverTestMode(true));
  ASSERT_TRUE(RestartDriverService());
  EXPECT_TRUE(DriverInTestMode());
  EXPECT_TRUE(InjectPackets({Packet(1)}, &recorded));
  EXPECT_EQ(1u, recorded);
}

TEST_F(Win32FirewallStandIn, InjectionCountsAreBounded) {
  ASSERT_TRUE(ResetDriver(kResetPackets | kResetTables));
  uint32_t recorded = 0;
  EXPECT_FALSE(InjectPackets({Packet(20001)}, &recorded));
  EXPECT_FALSE(InjectPackets({Packet(0xFFFFFFFFu)}, &recorded));
  EXPECT_FALSE(InjectPackets(std::vector<CInjectPacket>(1025, Packet(1)), &recorded));
  EXPECT_FALSE(InjectPackets(std::vector<CInjectPacket>(6, Packet(20000)), &recorded));  // 120,000 in all
  CDriverCounters counters;
  ASSERT_TRUE(ReadCounters(&counters));
  EXPECT_EQ(0u, counters.dwInjected);  // a refused request injects nothing

  EXPECT_TRUE(InjectPackets({Packet(20000)}, &recorded));
  EXPECT_EQ(20000u, recorded);
  EXPECT_TRUE(InjectPackets(std::vector<CInjectPacket>(1024, Packet(1)), &recorded));
  EXPECT_EQ(1024u, recorded);
}

TEST_F(Win32FirewallStandIn, EveryByteOfAFetchedRecordIsWritten) {
  ASSERT_TRUE(ResetDriver(kResetPackets | kResetTables));
  ASSERT_TRUE(InjectPackets({Packet(2)}));
  const HANDLE h = OpenDevice("\\\\.\\FIREWALLDRIVER");
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  std::vector<uint8_t> snapshot(kPacketSnapshotSize, 0xAB);
  uint8_t in[4];
  PutLe32(in, kFetchPackets);
  DWORD got = 0;
  const BOOL ok = DeviceIoControl(h, kIoctlQuery, in, sizeof in, snapshot.data(), static_cast<DWORD>(snapshot.size()),
                                  &got, nullptr);
  CloseHandle(h);
  ASSERT_TRUE(ok);
  ASSERT_EQ(kPacketSnapshotSize, got);
  const size_t start = GetLe32(&snapshot[kSnapshotStartOffset]);
  ASSERT_LT(start + 2, static_cast<size_t>(kPacketSlots));
  for (size_t slot = start; slot < start + 2; ++slot) {
    const uint8_t* record = &snapshot[slot * kPacketInfoSize];
    const _CPacketInfo info = DecodePacketInfo(record);
    EXPECT_STREQ("TCP", info.szProtocol);
    EXPECT_EQ(19u, strnlen(info.szTime, sizeof info.szTime));
    for (size_t i = 4; i < 32; ++i) EXPECT_EQ(0, record[i]) << "szProtocol byte " << i;
    for (size_t i = 19; i < 32; ++i) EXPECT_EQ(0, record[52 + i]) << "szTime byte " << i;
  }
  EXPECT_EQ(0u, GetLe32(&snapshot[(start + 2) * kPacketInfoSize + 48]));  // the batch ends there
  for (size_t i = kSnapshotListTakenOffset; i < snapshot.size(); ++i) ASSERT_EQ(0, snapshot[i]) << i;
}

}  // namespace
