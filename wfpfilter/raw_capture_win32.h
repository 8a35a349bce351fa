#pragma once
// Every IPv4 packet of the server, seen without a driver: one raw socket (AF_INET, SOCK_RAW,
// IPPROTO_IP) bound to each local IPv4 address with SIO_RCVALL on, which hands over the packets
// of that interface in both directions starting at the IP header. A receive thread per socket
// parses them into packet records and pushes them into the ring.
//
// Windows gives this to administrators only. RCVALL_ON also puts the adapter into promiscuous
// mode: on a shared segment (a hub, a mirrored port) packets between other hosts arrive too and
// are counted as incoming. Under Wine the socket itself is refused (WSAEPROTONOSUPPORT: Linux has
// no raw socket of protocol 0), and SIO_RCVALL on any raw socket is WSAEOPNOTSUPP.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "wfpfilter/capture_port.h"
#include "wfpfilter/packet_parser.h"

// The IPv4 unicast addresses (network order) of the adapters that are up, in the system's
// order, loopback left out unless asked for.
std::vector<uint32_t> LocalIpv4Addresses(bool withLoopback);

// "10043 (WSAEPROTONOSUPPORT)" for the Winsock errors capture meets, else the number alone.
std::string WinsockErrorText(int error);

class CRawSocketCapture : public IPacketCapture {
 public:
  // `addresses` (network order): where to capture; empty = every local address but loopback.
  explicit CRawSocketCapture(std::vector<uint32_t> addresses = {});
  ~CRawSocketCapture() override;
  CRawSocketCapture(const CRawSocketCapture&) = delete;
  CRawSocketCapture& operator=(const CRawSocketCapture&) = delete;

  // True when at least one address captures; `why` then names the addresses that could not
  // (empty when all could), and on false says what each refused.
  bool Start(CCaptureRing& ring, std::string* why) override;
  // Closes the sockets and joins the threads: within about kPollMs.
  void Stop() override;

  std::vector<uint32_t> Capturing() const;  // the addresses whose socket runs
  uint64_t Received() const { return m_received.load(); }
  uint64_t Refused() const { return m_refused.load(); }  // delivered bytes that were no IPv4 packet

  static constexpr unsigned kPollMs = 100;  // the longest a receive thread waits before it looks at the stop flag

 private:
  struct CSocket;
  void Receive(CSocket* socket);

  std::vector<uint32_t> m_addresses;
  std::vector<std::unique_ptr<CSocket>> m_sockets;
  std::vector<std::thread> m_threads;
  COwnAddresses m_own;
  CCaptureRing* m_ring = nullptr;
  std::atomic<bool> m_stop{false};
  std::atomic<uint64_t> m_received{0};
  std::atomic<uint64_t> m_refused{0};
  bool m_winsock = false;
};
