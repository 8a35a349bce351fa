#pragma once
// Connection counting where no packet can be seen (raw sockets refused): the TCP connection
// table is read once a second and every connection that was not in the previous reading
// becomes one packet record ("TCP", size 1). The monitor then shows connections per address,
// not packets or bytes: a connection flood (many new connections from one address, half-open
// or completed) is counted and blocked by the packet limit as packets would be, while UDP,
// ICMP and traffic inside connections already open are not seen and the byte limit sees 1 byte
// per connection.
#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "driver/driver_records.h"

// The connection states of the table (MIB_TCP_STATE).
enum ETcpState : uint32_t {
  kTcpClosed = 1,
  kTcpListen = 2,
  kTcpSynSent = 3,
  kTcpSynReceived = 4,
  kTcpEstablished = 5,
  kTcpFinWait1 = 6,
  kTcpFinWait2 = 7,
  kTcpCloseWait = 8,
  kTcpClosing = 9,
  kTcpLastAck = 10,
  kTcpTimeWait = 11,
  kTcpDeleteTcb = 12,
};

// One row of the table: addresses in network order, ports in host order.
struct CTcpRow {
  uint32_t state = 0;
  uint32_t localAddr = 0;
  uint16_t localPort = 0;
  uint32_t remoteAddr = 0;
  uint16_t remotePort = 0;
};

class CTcpTableDiff {
 public:
  // countLoopback: connections with an end in 127.0.0.0/8 are counted too (tests only: on a
  // server they are the machine talking to itself).
  explicit CTcpTableDiff(bool countLoopback = false) : m_countLoopback(countLoopback) {}

  // Takes one reading of the table and appends a record for each connection it holds that
  // the previous reading did not. The first reading only learns: connections open before the
  // capture began are no new traffic. Counted: every state a connection passes through once it
  // exists (SYN_SENT, SYN_RCVD, ESTABLISHED, the closing states, TIME_WAIT, so one opened and
  // closed between two readings still counts); not LISTEN, CLOSED, DELETE_TCB. A connection to
  // a local listening port goes from the remote end to the local one (reserved 0); any other
  // was opened by the server and goes from the local end (reserved 1, as a packet that left
  // it). A connection between two of the server's own sockets holds two rows; it counts once,
  // on its listening side.
  void Read(const std::vector<CTcpRow>& rows, const char* timeText, std::vector<_CPacketInfo>* fresh);

  bool Learned() const { return m_learned; }
  std::size_t Known() const { return m_previous.size(); }

 private:
  struct CKey {
    uint64_t addresses;  // local << 32 | remote
    uint32_t ports;      // local << 16 | remote
    bool operator==(const CKey& o) const { return addresses == o.addresses && ports == o.ports; }
  };
  struct CKeyHash {
    std::size_t operator()(const CKey& k) const;
  };
  static CKey KeyOf(uint32_t localAddr, uint16_t localPort, uint32_t remoteAddr, uint16_t remotePort);

  bool m_countLoopback;
  bool m_learned = false;
  std::unordered_set<CKey, CKeyHash> m_previous;
  std::unordered_set<CKey, CKeyHash> m_current;  // kept between readings for its buckets
};
