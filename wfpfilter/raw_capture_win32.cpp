#include "wfpfilter/raw_capture_win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <mstcpip.h>
#include <windows.h>

#include <cstdio>

#include "common/adapter_list_win32.h"
#include "common/crt_text.h"
#include "wfpfilter/capture_ring.h"

namespace {

constexpr int kReceiveBuffer = 8 * 1024 * 1024;  // a second of a busy link between two scheduler slices

// The record's time text, formatted again only when the second changes.
class CSecondText {
 public:
  const char* Now() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    const uint64_t key = static_cast<uint64_t>(now.wYear) << 40 | static_cast<uint64_t>(now.wMonth) << 32 |
                         static_cast<uint64_t>(now.wDay) << 24 | static_cast<uint64_t>(now.wHour) << 16 |
                         static_cast<uint64_t>(now.wMinute) << 8 | now.wSecond;
    if (key != m_key) {
      m_key = key;
      FormatCaptureTime(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, m_text);
    }
    return m_text;
  }

 private:
  uint64_t m_key = ~0ull;
  char m_text[32] = {};
};

}  // namespace

std::vector<uint32_t> LocalIpv4Addresses(bool withLoopback) {
  std::vector<uint32_t> addresses;
  const std::vector<uint8_t> list = ReadAdapterList(GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER);
  for (const IP_ADAPTER_ADDRESSES* adapter = FirstAdapter(list); adapter != nullptr;
       adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp) continue;
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
      const SOCKADDR* address = unicast->Address.lpSockaddr;
      if (address == nullptr || address->sa_family != AF_INET) continue;
      const uint32_t ip = reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr;
      const bool loopback = (ip & 0xFF) == 127 || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
      if (loopback && !withLoopback) continue;
      addresses.push_back(ip);
    }
  }
  return addresses;
}

std::string WinsockErrorText(int error) {
  const char* name = nullptr;
  switch (error) {
    case WSAEACCES: name = "WSAEACCES"; break;
    case WSAEINVAL: name = "WSAEINVAL"; break;
    case WSAEPROTONOSUPPORT: name = "WSAEPROTONOSUPPORT"; break;
    case WSAESOCKTNOSUPPORT: name = "WSAESOCKTNOSUPPORT"; break;
    case WSAEOPNOTSUPP: name = "WSAEOPNOTSUPP"; break;
    case WSAEAFNOSUPPORT: name = "WSAEAFNOSUPPORT"; break;
    case WSAEADDRNOTAVAIL: name = "WSAEADDRNOTAVAIL"; break;
    case WSAENETDOWN: name = "WSAENETDOWN"; break;
    case WSAENOBUFS: name = "WSAENOBUFS"; break;
    case WSANOTINITIALISED: name = "WSANOTINITIALISED"; break;
    case WSASYSNOTREADY: name = "WSASYSNOTREADY"; break;
    default: break;
  }
  return name != nullptr ? std::to_string(error) + " (" + name + ")" : std::to_string(error);
}

struct CRawSocketCapture::CSocket {
  SOCKET handle = INVALID_SOCKET;
  uint32_t address = 0;
};

CRawSocketCapture::CRawSocketCapture(std::vector<uint32_t> addresses) : m_addresses(std::move(addresses)) {}

CRawSocketCapture::~CRawSocketCapture() { Stop(); }

bool CRawSocketCapture::Start(CCaptureRing& ring, std::string* why) {
  Stop();
  std::string refusals;
  WSADATA data;
  const int startup = WSAStartup(MAKEWORD(2, 2), &data);
  if (startup != 0) {
    if (why != nullptr) *why = "WSAStartup " + WinsockErrorText(startup);
    return false;
  }
  m_winsock = true;
  const std::vector<uint32_t> addresses = m_addresses.empty() ? LocalIpv4Addresses(false) : m_addresses;
  if (addresses.empty()) refusals = "no IPv4 address but loopback";
  for (uint32_t address : addresses) {
    const std::string where = InetNtoa(address) + ": ";
    SOCKET handle = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
    if (handle == INVALID_SOCKET) {
      refusals += (refusals.empty() ? "" : "; ") + where + "socket(SOCK_RAW, IPPROTO_IP) " +
                  WinsockErrorText(WSAGetLastError());
      continue;
    }
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = address;
    DWORD on = RCVALL_ON;
    DWORD returned = 0;
    u_long nonBlocking = 1;
    const int bufferSize = kReceiveBuffer;
    std::string failed;
    if (bind(handle, reinterpret_cast<const sockaddr*>(&local), sizeof local) == SOCKET_ERROR) {
      failed = "bind " + WinsockErrorText(WSAGetLastError());
    } else if (WSAIoctl(handle, SIO_RCVALL, &on, sizeof on, nullptr, 0, &returned, nullptr, nullptr) ==
               SOCKET_ERROR) {
      failed = "SIO_RCVALL " + WinsockErrorText(WSAGetLastError());
    } else if (ioctlsocket(handle, FIONBIO, &nonBlocking) == SOCKET_ERROR) {
      failed = "FIONBIO " + WinsockErrorText(WSAGetLastError());
    }
    if (!failed.empty()) {
      closesocket(handle);
      refusals += (refusals.empty() ? "" : "; ") + where + failed;
      continue;
    }
    // A smaller buffer only drops more in a burst: its refusal is no reason to give up.
    setsockopt(handle, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bufferSize), sizeof bufferSize);
    auto entry = std::make_unique<CSocket>();
    entry->handle = handle;
    entry->address = address;
    m_sockets.push_back(std::move(entry));
  }
  if (why != nullptr) *why = refusals;
  if (m_sockets.empty()) {
    Stop();
    return false;
  }
  // Direction by every own address, loopback included: a packet between two of them left.
  std::vector<uint32_t> own = LocalIpv4Addresses(true);
  own.insert(own.end(), addresses.begin(), addresses.end());
  m_own = COwnAddresses(std::move(own));
  m_ring = &ring;
  m_stop = false;
  for (auto& entry : m_sockets) {
    CSocket* socket = entry.get();
    m_threads.emplace_back([this, socket] { Receive(socket); });
  }
  return true;
}

void CRawSocketCapture::Receive(CSocket* socket) {
  try {
    std::vector<uint8_t> buffer(kMaxIpv4Packet);
    CSecondText clock;
    while (!m_stop.load()) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(socket->handle, &readable);
      timeval wait = {0, static_cast<long>(kPollMs * 1000)};
      const int ready = select(0, &readable, nullptr, nullptr, &wait);
      if (ready == SOCKET_ERROR) return;
      if (ready == 0) continue;
      // Empty the socket before waiting again: a flood arrives many packets per wake.
      while (!m_stop.load()) {
        const int n = recv(socket->handle, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
        if (n == SOCKET_ERROR) {
          const int error = WSAGetLastError();
          if (error == WSAEWOULDBLOCK || error == WSAEMSGSIZE || error == WSAEINTR) break;
          return;  // the interface went away; the others go on
        }
        _CPacketInfo info;
        if (ParseIpv4Packet(buffer.data(), static_cast<std::size_t>(n), m_own, clock.Now(), &info)) {
          m_ring->Push(info);
          ++m_received;
        } else {
          ++m_refused;
        }
      }
    }
  } catch (...) {
    // Out of memory for the buffer: this address stops counting, the program goes on.
  }
}

void CRawSocketCapture::Stop() {
  m_stop = true;
  for (std::thread& thread : m_threads) {
    if (thread.joinable()) thread.join();
  }
  m_threads.clear();
  for (auto& entry : m_sockets) closesocket(entry->handle);
  m_sockets.clear();
  m_ring = nullptr;
  if (m_winsock) {
    WSACleanup();
    m_winsock = false;
  }
}

std::vector<uint32_t> CRawSocketCapture::Capturing() const {
  std::vector<uint32_t> addresses;
  for (const auto& entry : m_sockets) addresses.push_back(entry->address);
  return addresses;
}
