#pragma once
// Test access to the stand-in firewall driver: its service, and the extra control codes it
// answers besides those of the program (packet injection, counters and tables, reset).
#include <cstdint>
#include <string>
#include <vector>

#include "driver/driver_records.h"

constexpr uint32_t kIoctlInject = 0x222020;    // function 0x808, buffered
constexpr uint32_t kIoctlCounters = 0x222024;  // function 0x809, buffered
constexpr uint32_t kIoctlReset = 0x222028;     // function 0x80A, buffered
constexpr uint32_t kResetPackets = 1;          // captured ring and counters
constexpr uint32_t kResetTables = 2;           // tables, ping rule, filtering off

extern const char kDriverServiceName[];  // "firewalldriver"

// One injected packet (28 bytes on the wire).
struct CInjectPacket {
  uint32_t nProtocol = 6;  // 1 ICMP, 6 TCP, 17 UDP
  uint32_t dwSrcIP = 0;    // network order
  uint32_t dwDstIP = 0;
  uint16_t wSrcPort = 0;   // host order
  uint16_t wDstPort = 0;
  uint32_t dwSize = 60;
  uint32_t dwCount = 1;
  bool bOutgoing = false;
};

struct CDriverCounters {
  uint32_t dwFiltering = 0, dwInjected = 0, dwRecorded = 0, dwDroppedBlocked = 0;
  uint32_t dwDroppedPing = 0, dwOverwritten = 0, dwPending = 0, dwFetches = 0;
  uint32_t dwPingActive = 0;
  _CPingRule ping;
  std::vector<std::array<uint8_t, 8>> exceptions;
  std::vector<std::array<uint8_t, 28>> blocked;
};

// Stops and deletes the driver service when it exists, and waits until the device is gone.
void RemoveDriverService();
// Probes; installs through the program's InstallDriver when the device does not open; and
// reloads the driver in test mode when it does not answer the test requests.
bool EnsureDriverLoaded();
// Sets (or removes) the TestMode value under the driver's service key; the driver reads it
// when it is loaded.
bool SetDriverTestMode(bool on);
// Stops and starts the driver service and waits until the device opens again.
bool RestartDriverService();
// The driver answers the counters request: it was loaded in test mode.
bool DriverInTestMode();

// Through a handle of its own, so the program's g_hDevice is not touched.
bool InjectPackets(const std::vector<CInjectPacket>& packets, uint32_t* recorded = nullptr,
                   uint32_t* dropped = nullptr);
bool ReadCounters(CDriverCounters* counters);
// TCP packets from one address to 192.0.2.200:80, as a flood arrives.
std::vector<CInjectPacket> Flood(const char* from, uint32_t count);
// The driver holds a block of the whole address (port 0).
bool DriverBlocks(const char* ip);
bool ResetDriver(uint32_t what);
// A loaded driver with empty tables and ring, and the program's link closed and marked stopped.
bool FreshDriverAndClosedLink();
