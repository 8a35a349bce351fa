#include "logonguard/guard_inbox.h"

bool CGuardInbox::Push(const CLogonEvent& event) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_events.size() >= kMaxEvents) {
    ++m_nDropped;
    return false;
  }
  m_events.push_back(event);
  return true;
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
  std::lock_guard<std::mutex> hold(m_lock);
  CSourceState& state = m_states[static_cast<int>(source)];
  if (!state.bReported || state.bAvailable != available || state.strText != text) ++state.nChanges;
  state.bReported = true;
  state.bAvailable = available;
  state.strText = text;
}

void CGuardInbox::Forget(EGuardSource source) {
  std::lock_guard<std::mutex> hold(m_lock);
  CSourceState& state = m_states[static_cast<int>(source)];
  const uint64_t changes = state.nChanges + 1;
  state = CSourceState();
  state.nChanges = changes;
}

CSourceState CGuardInbox::State(EGuardSource source) {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_states[static_cast<int>(source)];
}
