#pragma once
// Connection counting where raw sockets are refused: GetExtendedTcpTable (TCP_TABLE_OWNER_PID_ALL,
// AF_INET) read once a second, each new connection one record (see tcp_table_diff.h for what is
// counted and how).
//
// What the monitor then shows: connections per address, not packets or bytes. Every record
// is "TCP" with size 1, so the list shows each new connection once, the chart counts
// connections, a connection flood from one address reaches the packet limit as its packets
// would, and the byte limit is reached only by a flood of some million connections. UDP and
// ICMP floods and traffic inside open connections are not seen at all.
//
// Under Wine the table is Linux's own (every process of the machine, owning pid 0).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "wfpfilter/capture_port.h"
#include "wfpfilter/tcp_table_diff.h"

class CTcpTableCapture : public IPacketCapture {
 public:
  // countLoopback: connections with an end in 127.0.0.0/8 count too (tests only).
  explicit CTcpTableCapture(bool countLoopback = false, unsigned pollMilliseconds = 1000);
  ~CTcpTableCapture() override;
  CTcpTableCapture(const CTcpTableCapture&) = delete;
  CTcpTableCapture& operator=(const CTcpTableCapture&) = delete;

  // Reads the table once before it returns (the connections open now are not counted), so a
  // table that cannot be read refuses the start with the error in `why`.
  bool Start(CCaptureRing& ring, std::string* why) override;
  // Ends the polling thread at once (it waits on a condition, not in a sleep).
  void Stop() override;

  uint64_t Readings() const { return m_readings.load(); }  // readings taken, the first included
  uint64_t Failures() const { return m_failures.load(); }  // readings the system refused

 private:
  bool ReadTable(std::vector<CTcpRow>* rows, unsigned long* error);
  void Poll();

  const unsigned m_pollMs;
  CTcpTableDiff m_diff;
  std::vector<uint8_t> m_buffer;  // the table's bytes, kept between readings
  CCaptureRing* m_ring = nullptr;
  std::thread m_thread;
  std::mutex m_lock;
  std::condition_variable m_wake;
  bool m_stop = false;
  std::atomic<uint64_t> m_readings{0};
  std::atomic<uint64_t> m_failures{0};
  const bool m_countLoopback;
};
