#include "wfpfilter/tcp_table_diff.h"

#include <cstring>
#include <unordered_set>

namespace {

// 127.0.0.0/8: the first octet is the low byte of a network-order address.
bool IsLoopback(uint32_t address) { return (address & 0xFF) == 127; }

bool Counted(uint32_t state) {
  return state >= kTcpSynSent && state <= kTcpTimeWait;
}

void SetText(char (&field)[32], const char* text) {
  std::memset(field, 0, sizeof field);
  for (std::size_t n = 0; n < 31 && text[n]; ++n) field[n] = text[n];
}

}  // namespace

std::size_t CTcpTableDiff::CKeyHash::operator()(const CKey& k) const {
  uint64_t h = k.addresses * 0x9E3779B97F4A7C15ull;
  h ^= (h >> 29) ^ (static_cast<uint64_t>(k.ports) * 0xC2B2AE3D27D4EB4Full);
  return static_cast<std::size_t>(h ^ (h >> 32));
}

CTcpTableDiff::CKey CTcpTableDiff::KeyOf(uint32_t localAddr, uint16_t localPort, uint32_t remoteAddr,
                                         uint16_t remotePort) {
  return CKey{static_cast<uint64_t>(localAddr) << 32 | remoteAddr,
              static_cast<uint32_t>(localPort) << 16 | remotePort};
}

void CTcpTableDiff::Read(const std::vector<CTcpRow>& rows, const char* timeText,
                         std::vector<_CPacketInfo>* fresh) {
  std::unordered_set<uint16_t> listening;
  for (const CTcpRow& row : rows) {
    if (row.state == kTcpListen) listening.insert(row.localPort);
  }
  m_current.clear();
  for (const CTcpRow& row : rows) {
    if (Counted(row.state)) m_current.insert(KeyOf(row.localAddr, row.localPort, row.remoteAddr, row.remotePort));
  }
  if (m_learned) {
    for (const CTcpRow& row : rows) {
      if (!Counted(row.state)) continue;
      if (!m_countLoopback && (IsLoopback(row.localAddr) || IsLoopback(row.remoteAddr))) continue;
      const CKey key = KeyOf(row.localAddr, row.localPort, row.remoteAddr, row.remotePort);
      if (m_previous.count(key) != 0) continue;
      const bool inbound = listening.count(row.localPort) != 0;
      const CKey mirror = KeyOf(row.remoteAddr, row.remotePort, row.localAddr, row.localPort);
      if (m_current.count(mirror) != 0) {
        // Both ends are ours: keep the listening end's row (or, failing that, one of the two).
        const bool mirrorInbound = listening.count(row.remotePort) != 0;
        const bool keep = inbound != mirrorInbound ? inbound
                                                   : (key.addresses < mirror.addresses ||
                                                      (key.addresses == mirror.addresses && key.ports < mirror.ports));
        if (!keep) continue;
      }
      _CPacketInfo info;
      SetText(info.szProtocol, "TCP");
      if (inbound) {
        info.dwSrcIP = row.remoteAddr;
        info.wSrcPort = row.remotePort;
        info.dwDstIP = row.localAddr;
        info.wDstPort = row.localPort;
      } else {
        info.dwSrcIP = row.localAddr;
        info.wSrcPort = row.localPort;
        info.dwDstIP = row.remoteAddr;
        info.wDstPort = row.remotePort;
        info.dwReserved = 1;
      }
      info.dwSize = 1;  // a connection counts as one packet
      SetText(info.szTime, timeText != nullptr ? timeText : "");
      fresh->push_back(info);
    }
  }
  m_previous.swap(m_current);
  m_learned = true;
}
