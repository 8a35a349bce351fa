#include "wfpfilter/system_capture_win32.h"

#include "wfpfilter/raw_capture_win32.h"
#include "wfpfilter/tcp_table_capture_win32.h"

CSystemPacketCapture::CSystemPacketCapture()
    : CSystemPacketCapture(std::make_unique<CRawSocketCapture>(), std::make_unique<CTcpTableCapture>()) {}

CSystemPacketCapture::CSystemPacketCapture(std::unique_ptr<IPacketCapture> raw, std::unique_ptr<IPacketCapture> table)
    : m_raw(std::move(raw)), m_table(std::move(table)) {}

CSystemPacketCapture::~CSystemPacketCapture() { Stop(); }

bool CSystemPacketCapture::Start(CCaptureRing& ring, std::string* why) {
  Stop();
  std::string rawWhy = "not available";
  if (m_raw && m_raw->Start(ring, &rawWhy)) {
    m_running = m_raw.get();
    m_mode = ECaptureMode::kRawSockets;
    m_why = rawWhy;
  } else {
    std::string tableWhy = "not available";
    if (m_table && m_table->Start(ring, &tableWhy)) {
      m_running = m_table.get();
      m_mode = ECaptureMode::kConnectionTable;
      m_why = "raw sockets refused: " + rawWhy;
    } else {
      m_mode = ECaptureMode::kNone;
      m_why = "raw sockets refused: " + rawWhy + "; connection table refused: " + tableWhy;
    }
  }
  if (why != nullptr) *why = m_why;
  return m_running != nullptr;
}

void CSystemPacketCapture::Stop() {
  if (m_running != nullptr) m_running->Stop();
  m_running = nullptr;
  m_mode = ECaptureMode::kNone;
}
