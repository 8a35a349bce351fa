#include "wfpfilter/capture_ring.h"

#include <cstring>

CCaptureRing::CCaptureRing() : m_slots(kPacketSlots) {}

void CCaptureRing::Push(const _CPacketInfo& info) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_count == kPacketSlots) {
    m_head = (m_head + 1) % kPacketSlots;
    --m_count;
    ++m_overwritten;
  }
  _CPacketInfo& slot = m_slots[(m_head + m_count) % kPacketSlots];
  slot = info;
  if (slot.dwSize == 0) slot.dwSize = 1;
  slot.szProtocol[sizeof slot.szProtocol - 1] = 0;  // the readers take both texts as C strings
  slot.szTime[sizeof slot.szTime - 1] = 0;
  ++m_count;
  ++m_pushed;
}

bool CCaptureRing::FillSnapshot(uint8_t* out, std::size_t size) {
  if (size < kPacketSnapshotSize) return false;
  std::memset(out, 0, kPacketSnapshotSize);
  std::lock_guard<std::mutex> hold(m_lock);
  // The readers walk from the start slot to the first empty one or the end, so the batch is
  // kept in one piece.
  if (m_nextStart + m_count > kPacketSlots) m_nextStart = 0;
  const int start = m_nextStart;
  for (int i = 0; i < m_count; ++i) {
    const CPacketInfoWire w = EncodePacketInfo(m_slots[(m_head + i) % kPacketSlots]);
    std::memcpy(out + kPacketInfoSize * static_cast<std::size_t>(start + i), w.data(), w.size());
  }
  PutLe32(out + kSnapshotStartOffset, static_cast<uint32_t>(start));
  m_head = (m_head + m_count) % kPacketSlots;
  m_nextStart = (start + m_count) % kPacketSlots;
  m_count = 0;
  return true;
}

void CCaptureRing::Clear() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_head = m_count = m_nextStart = 0;
  m_pushed = m_overwritten = 0;
}

uint64_t CCaptureRing::Pushed() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_pushed;
}

uint64_t CCaptureRing::Overwritten() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_overwritten;
}

int CCaptureRing::Pending() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_count;
}
