#include "wfpfilter/tcp_table_capture_win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <chrono>

#include "wfpfilter/capture_ring.h"
#include "wfpfilter/packet_parser.h"

CTcpTableCapture::CTcpTableCapture(bool countLoopback, unsigned pollMilliseconds)
    : m_pollMs(pollMilliseconds == 0 ? 1 : pollMilliseconds), m_diff(countLoopback), m_countLoopback(countLoopback) {}

CTcpTableCapture::~CTcpTableCapture() { Stop(); }

bool CTcpTableCapture::ReadTable(std::vector<CTcpRow>* rows, unsigned long* error) {
  rows->clear();
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  // Connections come and go between the size answer and the next call: a few tries, with room.
  for (int attempt = 0; attempt < 4 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    DWORD size = static_cast<DWORD>(m_buffer.size());
    result = GetExtendedTcpTable(m_buffer.empty() ? nullptr : m_buffer.data(), &size, FALSE, AF_INET,
                                 TCP_TABLE_OWNER_PID_ALL, 0);
    if (result == ERROR_INSUFFICIENT_BUFFER) m_buffer.assign(size + size / 4 + 4096, 0);
  }
  if (result != NO_ERROR) {
    *error = result;
    return false;
  }
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(m_buffer.data());
  rows->reserve(table->dwNumEntries);
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& entry = table->table[i];
    CTcpRow row;
    row.state = entry.dwState;
    row.localAddr = entry.dwLocalAddr;  // in_addr order already
    row.localPort = ntohs(static_cast<u_short>(entry.dwLocalPort));
    row.remoteAddr = entry.dwRemoteAddr;
    row.remotePort = ntohs(static_cast<u_short>(entry.dwRemotePort));
    rows->push_back(row);
  }
  return true;
}

bool CTcpTableCapture::Start(CCaptureRing& ring, std::string* why) {
  Stop();
  m_diff = CTcpTableDiff(m_countLoopback);
  m_readings = 0;
  m_failures = 0;
  std::vector<CTcpRow> rows;
  unsigned long error = 0;
  if (!ReadTable(&rows, &error)) {
    if (why != nullptr) *why = "GetExtendedTcpTable " + std::to_string(error);
    return false;
  }
  std::vector<_CPacketInfo> fresh;
  m_diff.Read(rows, "", &fresh);  // the first reading only learns
  ++m_readings;
  if (why != nullptr) why->clear();
  m_ring = &ring;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_stop = false;
  }
  m_thread = std::thread([this] { Poll(); });
  return true;
}

void CTcpTableCapture::Poll() {
  try {
    std::vector<CTcpRow> rows;
    std::vector<_CPacketInfo> fresh;
    auto next = std::chrono::steady_clock::now();
    for (;;) {
      next += std::chrono::milliseconds(m_pollMs);
      {
        std::unique_lock<std::mutex> hold(m_lock);
        if (m_wake.wait_until(hold, next, [this] { return m_stop; })) return;
      }
      if (std::chrono::steady_clock::now() > next + std::chrono::milliseconds(m_pollMs)) {
        next = std::chrono::steady_clock::now();  // the machine stalled: no burst of readings to catch up
      }
      unsigned long error = 0;
      if (!ReadTable(&rows, &error)) {
        ++m_failures;  // the previous reading stays the one to compare with
        continue;
      }
      SYSTEMTIME now;
      GetLocalTime(&now);
      char text[32];
      FormatCaptureTime(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, text);
      fresh.clear();
      m_diff.Read(rows, text, &fresh);
      for (const _CPacketInfo& info : fresh) m_ring->Push(info);
      ++m_readings;  // after the pushes: a reader that saw the count sees the records
    }
  } catch (...) {
    // Out of memory for a huge table: counting stops, the program goes on.
  }
}

void CTcpTableCapture::Stop() {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_stop = true;
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
  m_ring = nullptr;
}
