// Counting without a driver, on the real Winsock and IP helper: under Wine raw sockets are
// refused, so the capture falls back to the connection table, which reads Linux's own table.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/crt_text.h"
#include "driver/driver_records.h"
#include "wfpfilter/capture_ring.h"
#include "wfpfilter/raw_capture_win32.h"
#include "wfpfilter/system_capture_win32.h"
#include "wfpfilter/tcp_table_capture_win32.h"

namespace {

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The records waiting in the ring, taken out as a fetch takes them.
std::vector<_CPacketInfo> Take(CCaptureRing& ring) {
  auto snapshot = std::make_unique<_CPacketSnapshot>();
  std::vector<_CPacketInfo> records;
  if (!ring.FillSnapshot(snapshot->bytes.data(), snapshot->bytes.size())) return records;
  for (int i = snapshot->Start(); i < kPacketSlots && snapshot->SlotSize(i) != 0; ++i) records.push_back(snapshot->Slot(i));
  return records;
}

// One TCP connection between two sockets of this process on 127.0.0.1.
class CLoopbackConnection {
 public:
  CLoopbackConnection() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(m_listener, 4);
    int length = sizeof address;
    getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_serverPort = ntohs(address.sin_port);
    m_client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    m_connected = connect(m_client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    m_accepted = accept(m_listener, nullptr, nullptr);
    sockaddr_in mine = {};
    length = sizeof mine;
    getsockname(m_client, reinterpret_cast<sockaddr*>(&mine), &length);
    m_clientPort = ntohs(mine.sin_port);
  }
  ~CLoopbackConnection() {
    closesocket(m_client);
    closesocket(m_accepted);
    closesocket(m_listener);
    WSACleanup();
  }
  bool Connected() const { return m_connected && m_accepted != INVALID_SOCKET; }
  uint16_t ServerPort() const { return m_serverPort; }
  uint16_t ClientPort() const { return m_clientPort; }

 private:
  SOCKET m_listener = INVALID_SOCKET;
  SOCKET m_client = INVALID_SOCKET;
  SOCKET m_accepted = INVALID_SOCKET;
  uint16_t m_serverPort = 0;
  uint16_t m_clientPort = 0;
  bool m_connected = false;
};

// Waits (at most 15 s) until the table has been read `more` times after now.
bool WaitForReadings(const CTcpTableCapture& table, uint64_t more) {
  const uint64_t target = table.Readings() + more;
  const ULONGLONG deadline = GetTickCount64() + 15000;
  while (table.Readings() < target) {
    if (GetTickCount64() > deadline) return false;
    Sleep(20);
  }
  return true;
}

std::vector<_CPacketInfo> RecordsTo(const std::vector<_CPacketInfo>& records, uint16_t port) {
  std::vector<_CPacketInfo> found;
  for (const _CPacketInfo& info : records) {
    if (info.wDstPort == port || info.wSrcPort == port) found.push_back(info);
  }
  return found;
}

TEST(RawCapture, LocalAddressesLeaveLoopbackOutUnlessAsked) {
  const uint32_t loopback = InetAddr("127.0.0.1");
  const std::vector<uint32_t> all = LocalIpv4Addresses(true);
  const std::vector<uint32_t> outside = LocalIpv4Addresses(false);
  EXPECT_NE(all.end(), std::find(all.begin(), all.end(), loopback));
  EXPECT_EQ(outside.end(), std::find(outside.begin(), outside.end(), loopback));
  EXPECT_EQ(all.size(), outside.size() + 1);
}

TEST(RawCapture, RawSocketsAreRefusedUnderWineWithTheErrorOfEachAddress) {
  if (!UnderWine()) GTEST_SKIP() << "raw sockets open on Windows with administrator rights";
  ASSERT_FALSE(LocalIpv4Addresses(false).empty());
  CCaptureRing ring;
  CRawSocketCapture raw;
  std::string why;
  EXPECT_FALSE(raw.Start(ring, &why));
  EXPECT_NE(std::string::npos, why.find("socket(SOCK_RAW, IPPROTO_IP) 10043 (WSAEPROTONOSUPPORT)")) << why;
  EXPECT_NE(std::string::npos, why.find(InetNtoa(LocalIpv4Addresses(false)[0]))) << why;
  EXPECT_TRUE(raw.Capturing().empty());
  raw.Stop();  // stopping what never started is harmless

  // Asked for loopback itself: refused the same way, and said so for that address.
  CRawSocketCapture onLoopback({InetAddr("127.0.0.1")});
  EXPECT_FALSE(onLoopback.Start(ring, &why));
  EXPECT_EQ(0u, why.find("127.0.0.1: ")) << why;
}

TEST(RawCapture, SystemCaptureFallsBackToTheConnectionTableAndCountsANewConnectionOnce) {
  if (!UnderWine()) GTEST_SKIP() << "on Windows the raw sockets would count every packet of the connection";
  auto table = std::make_unique<CTcpTableCapture>(true, 200);
  CTcpTableCapture* tableView = table.get();
  CSystemPacketCapture capture(std::make_unique<CRawSocketCapture>(), std::move(table));
  CCaptureRing ring;
  std::string why;
  ASSERT_TRUE(capture.Start(ring, &why)) << why;
  EXPECT_EQ(ECaptureMode::kConnectionTable, capture.Mode());
  EXPECT_EQ(why, capture.Why());
  EXPECT_EQ(0u, why.find("raw sockets refused: ")) << why;
  EXPECT_NE(std::string::npos, why.find("WSAEPROTONOSUPPORT")) << why;
  EXPECT_EQ(1u, tableView->Readings());  // the learning reading, before Start returned

  CLoopbackConnection connection;
  ASSERT_TRUE(connection.Connected());
  ASSERT_TRUE(WaitForReadings(*tableView, 4));  // seen in the first and still there in the next three
  const std::vector<_CPacketInfo> records = RecordsTo(Take(ring), connection.ServerPort());
  ASSERT_EQ(1u, records.size());
  const _CPacketInfo& info = records[0];
  EXPECT_STREQ("TCP", info.szProtocol);
  EXPECT_EQ("127.0.0.1", InetNtoa(info.dwSrcIP));
  EXPECT_EQ("127.0.0.1", InetNtoa(info.dwDstIP));
  EXPECT_EQ(connection.ClientPort(), info.wSrcPort);  // host order, from the remote end
  EXPECT_EQ(connection.ServerPort(), info.wDstPort);
  EXPECT_EQ(0u, info.dwReserved);
  EXPECT_EQ(1u, info.dwSize);
  ASSERT_EQ(19u, std::string(info.szTime).size()) << info.szTime;
  EXPECT_EQ('-', info.szTime[4]);
  EXPECT_EQ(':', info.szTime[16]);
  EXPECT_EQ(0u, tableView->Failures());

  const ULONGLONG before = GetTickCount64();
  capture.Stop();
  EXPECT_LT(GetTickCount64() - before, 2000u);
  EXPECT_EQ(ECaptureMode::kNone, capture.Mode());
  const uint64_t readings = tableView->Readings();
  Sleep(500);
  EXPECT_EQ(readings, tableView->Readings());  // no reading after Stop
}

TEST(RawCapture, ConnectionTableLeavesLoopbackOutByDefaultAndStopsWithoutWaitingForThePoll) {
  CTcpTableCapture table(false, 200);
  CCaptureRing ring;
  std::string why = "untouched";
  ASSERT_TRUE(table.Start(ring, &why)) << why;
  EXPECT_TRUE(why.empty());
  CLoopbackConnection connection;
  ASSERT_TRUE(connection.Connected());
  ASSERT_TRUE(WaitForReadings(table, 3));
  EXPECT_TRUE(RecordsTo(Take(ring), connection.ServerPort()).empty());
  table.Stop();

  // Polled once a second, it still stops at once: the wait is on a condition.
  CTcpTableCapture slow;
  ASSERT_TRUE(slow.Start(ring, &why)) << why;
  const ULONGLONG before = GetTickCount64();
  slow.Stop();
  EXPECT_LT(GetTickCount64() - before, 500u);
}

TEST(RawCapture, SystemCaptureWithNothingToStartSaysBothRefusals) {
  CSystemPacketCapture capture(nullptr, nullptr);
  CCaptureRing ring;
  std::string why;
  EXPECT_FALSE(capture.Start(ring, &why));
  EXPECT_EQ(ECaptureMode::kNone, capture.Mode());
  EXPECT_NE(std::string::npos, why.find("raw sockets refused")) << why;
  EXPECT_NE(std::string::npos, why.find("connection table refused")) << why;
  EXPECT_STREQ("无抓包", CaptureModeText(capture.Mode()));
}

}  // namespace
