#pragma once
// What the sources hand to the guard from their own threads: their events, in a bounded queue,
// and the state each source is in. The user-interface thread takes the events once a second.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "logonguard/logon_event.h"
#include "logonguard/logon_guard.h"

struct CSourceState {
  bool bReported = false;   // the source said something since it started
  bool bAvailable = false;
  std::string strText;
  uint64_t nChanges = 0;    // grows whenever the text changes
};

class CGuardInbox {
 public:
  static constexpr size_t kMaxEvents = 20000;

  // false when the queue is full: the event is counted as dropped.
  bool Push(const CLogonEvent& event);
  size_t Room();
  // Up to max events, oldest first.
  std::vector<CLogonEvent> Take(size_t max);
  uint64_t Dropped();

  void Report(EGuardSource source, bool available, const std::string& text);
  void Forget(EGuardSource source);  // the source stopped: nothing reported any more
  CSourceState State(EGuardSource source);

 private:
  std::mutex m_lock;
  std::deque<CLogonEvent> m_events;
  uint64_t m_nDropped = 0;
  CSourceState m_states[kGuardSourceCount];
};
