#include "traffic/packet_pipeline.h"

#include <algorithm>

#include "common/crt_text.h"
#include "driver/driver_link.h"
#include "traffic/ip_stats.h"

std::atomic<bool> g_bRefill{true};
std::atomic<int32_t> g_nListCursor{0};
std::atomic<int32_t> g_nStatsCursor{0};
std::atomic<int32_t> g_nShowDelay{3};
std::atomic<bool> g_bMonitorShown{false};

bool CPacketPipeline::ReaderStep() {
  CLockPortGuard guard(m_lock);
  if (!m_idle() || !g_bRefill) return false;
  m_bBatchListable = false;  // whatever the fetch leaves in the buffer is no batch of packets yet
  if (!m_fetch(&m_buffer)) return false;
  // The consumers rely on fresh marks; a driver that leaves them alone must not stop them.
  std::fill(m_buffer.bytes.begin() + kSnapshotListTakenOffset, m_buffer.bytes.end(), 0);
  // A start index outside the buffer would send both consumers past its end: such a batch
  // counts as empty, like one without packets, and the next one is fetched.
  const int32_t start = m_buffer.Start();
  if (start < 0 || start >= kPacketSlots || m_buffer.SlotSize(start) == 0) return false;
  g_bRefill = false;
  g_nListCursor = start;
  g_nStatsCursor = start;
  m_bBatchListable = true;
  return true;
}

bool CPacketPipeline::SlotEndsBatch(int i, bool forList) const {
  if (i < 0 || i >= kPacketSlots) return true;
  if (m_buffer.SlotSize(i) == 0) return true;
  return forList ? m_buffer.ListTaken(i) != 0 : m_buffer.StatsTaken(i) != 0;
}

bool CPacketPipeline::StatsStep(const std::vector<std::string>& localIps) {
  CLockPortGuard guard(m_lock);
  if (g_bRefill) return false;
  const int i = g_nStatsCursor;
  if (SlotEndsBatch(i, false)) {
    g_bRefill = true;
    g_nStatsCursor = 0;
    return false;
  }
  const _CPacketInfo packet = m_buffer.Slot(i);
  const std::string source = InetNtoa(packet.dwSrcIP);
  bool leaves = false;
  for (const std::string& own : localIps) leaves = leaves || own == source;
  {
    std::lock_guard<std::mutex> stats(g_IpStatsLock);
    if (leaves) CountOutgoing(g_IpOutTable, InetNtoa(packet.dwDstIP), packet.dwSize);
    else CountIncoming(g_IpInTable, source);
  }
  m_buffer.SetStatsTaken(i, 1);
  g_nStatsCursor = i + 1;
  return true;
}

bool CPacketPipeline::ListStep(const PageSink& sink, const std::function<void()>& clearPage, bool pageHasRows) {
  CLockPortGuard guard(m_lock);
  if (m_bListCatchUp.exchange(false)) {
    // Never back onto slots the list took already: it would stop there as at a batch's end.
    g_nListCursor = g_bRefill ? kPacketSlots : std::max(g_nListCursor.load(), g_nStatsCursor.load());
  }
  if (!g_bMonitorShown) {
    // Shown again, the list starts where the counting is: what came while it was hidden
    // and has been counted since is not listed.
    m_bListCatchUp = true;
    if (pageHasRows) clearPage();
    return false;
  }
  // Only the statistics consumer ends a batch: the list neither clears the slots it takes nor
  // asks for the next batch, so counting (and automatic blocking) never depends on whether the
  // monitor is shown. The list takes the batch up to its end until the reader replaces it.
  if (!m_idle() || !m_bBatchListable) return false;
  const int i = g_nListCursor;
  if (SlotEndsBatch(i, true)) return false;
  const _CPacketInfo copy = m_buffer.Slot(i);
  m_buffer.SetListTaken(i, 1);
  sink(copy);
  g_nListCursor = i + 1;
  return true;
}

bool ToggleMonitorPause(CPacketPipeline& pipeline) {
  if (g_bMonitorPaused) {
    pipeline.CatchUpList();
    g_bMonitorPaused = 0;
    return false;
  }
  g_bMonitorPaused = 1;
  return true;
}

void ConsumerTurn(const std::function<bool()>& step, IPacketWaits& waits) {
  bool took = false;
  try {
    took = step();
  } catch (...) {
    took = false;  // the record is lost, the thread goes on
  }
  if (took) {
    waits.HoldFineTimer(true);
    waits.Pause(g_nShowDelay.load());
  } else {
    waits.HoldFineTimer(false);
    waits.WaitForBatch(kReaderPeriodMs);
  }
}
