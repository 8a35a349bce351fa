#include "logonguard/guard_inbox.h"

bool CGuardInbox::Push(const CLogonEvent& event) {
  std::lock_guard<std::mutex> hold(m_lock);
  const int c = static_cast<int>(event.eChannel);
  CChannelState* channel = c >= 0 && c < kEventChannelCount ? &m_channels[c] : nullptr;
  if (channel && channel->bHeld) return false;  // read again after the last record queued
  if (m_events.size() >= kMaxEvents) {
    if (!channel) {
      ++m_nDropped;
      return false;
    }
    channel->bHeld = true;
    ++channel->nHolds;
    // Nothing of this channel queued yet: it is read again from this record.
    if (channel->nLastQueued == 0 && event.nRecordId > 0) channel->nLastQueued = event.nRecordId - 1;
    return false;
  }
  m_events.push_back(event);
  if (channel && event.nRecordId > 0) channel->nLastQueued = event.nRecordId;
  return true;
}

void CGuardInbox::StartChannel(EEventChannel channel, uint64_t afterRecord) {
  std::lock_guard<std::mutex> hold(m_lock);
  const int c = static_cast<int>(channel);
  if (c < 0 || c >= kEventChannelCount) return;
  const uint64_t holds = m_channels[c].nHolds;
  m_channels[c] = CChannelState();
  m_channels[c].nLastQueued = afterRecord;
  m_channels[c].nHolds = holds;
}

void CGuardInbox::ChannelFailed(EEventChannel channel) {
  std::lock_guard<std::mutex> hold(m_lock);
  const int c = static_cast<int>(channel);
  if (c >= 0 && c < kEventChannelCount) m_channels[c].bFailed = true;
}

CChannelState CGuardInbox::Channel(EEventChannel channel) {
  std::lock_guard<std::mutex> hold(m_lock);
  const int c = static_cast<int>(channel);
  return c >= 0 && c < kEventChannelCount ? m_channels[c] : CChannelState();
}

size_t CGuardInbox::Room() {
  std::lock_guard<std::mutex> hold(m_lock);
  return kMaxEvents - m_events.size();
}

std::vector<CLogonEvent> CGuardInbox::Take(size_t max) {
  std::lock_guard<std::mutex> hold(m_lock);
  const size_t n = m_events.size() < max ? m_events.size() : max;
  std::vector<CLogonEvent> taken(std::make_move_iterator(m_events.begin()),
                                 std::make_move_iterator(m_events.begin() + static_cast<std::ptrdiff_t>(n)));
  m_events.erase(m_events.begin(), m_events.begin() + static_cast<std::ptrdiff_t>(n));
  return taken;
}

uint64_t CGuardInbox::Dropped() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_nDropped;
}

void CGuardInbox::Report(EGuardSource source, bool available, const std::string& text) {
  ReportSlot(static_cast<int>(source), available, text);
}

void CGuardInbox::ReportRemoteDesktop(bool available, const std::string& text) {
  ReportSlot(kRemoteDesktopSlot, available, text);
}

CSourceState CGuardInbox::RemoteDesktopState() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_states[kRemoteDesktopSlot];
}

void CGuardInbox::ReportSlot(int slot, bool available, const std::string& text) {
  std::lock_guard<std::mutex> hold(m_lock);
  CSourceState& state = m_states[slot];
  if (!state.bReported || state.bAvailable != available || state.strText != text) ++state.nChanges;
  state.bReported = true;
  state.bAvailable = available;
  state.strText = text;
}

void CGuardInbox::Forget(EGuardSource source) {
  std::lock_guard<std::mutex> hold(m_lock);
  const auto forget = [](CSourceState& state) {
    const uint64_t changes = state.nChanges + 1;
    state = CSourceState();
    state.nChanges = changes;
  };
  forget(m_states[static_cast<int>(source)]);
  if (source == EGuardSource::kEventLog) forget(m_states[kRemoteDesktopSlot]);
}

CSourceState CGuardInbox::State(EGuardSource source) {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_states[static_cast<int>(source)];
}
