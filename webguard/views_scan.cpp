#include "webguard/views_scan.h"

void CViewsScan::Restart() {
  m_bytes.Restart();
  m_converted.Restart();
  m_held.clear();
  if (m_held.capacity() > kHeldLimit) std::string().swap(m_held);
  m_bParted = false;
  m_bFound = false;
}

bool CViewsScan::Part() {
  m_bParted = true;
  if (!m_held.empty()) m_bFound = m_converted.Feed(m_held.data(), m_held.size());
  m_held.clear();
  return m_bFound;
}

bool CViewsScan::Feed(const CScriptViews& views) {
  if (m_bFound) return true;
  if (m_bytes.Feed(views.bytes.data(), views.bytes.size())) return m_bFound = true;
  if (views.bConvertedIsBytes) {
    if (!m_bParted && m_held.size() + views.bytes.size() <= kHeldLimit) {
      m_held += views.bytes;
      return false;
    }
    if (!m_bParted && Part()) return true;
    return m_bFound = m_converted.Feed(views.bytes.data(), views.bytes.size());
  }
  if (!m_bParted && Part()) return true;
  return m_bFound = m_converted.Feed(views.converted.data(), views.converted.size());
}

bool CViewsScan::Finish() {
  if (m_bFound) return true;
  m_bFound = m_bytes.Finish();
  // Never parted: the converted view was the bytes' text, which the bytes scan has seen.
  if (!m_bFound && m_bParted) m_bFound = m_converted.Finish();
  return m_bFound;
}
