#pragma once
// What the sources hand to the guard from their own threads: their events, in a bounded queue,
// and the state each source is in. The user-interface thread takes the events once a second.
//
// An event log record that finds the queue full is not lost: its channel is held (nothing more
// of it is taken) and the guard subscribes again after the last record queued once there is
// room, so the log itself is the back-pressure. Other sources' events are dropped and counted.
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

// One event log channel's hand-over, read by the guard to know where to subscribe again.
struct CChannelState {
  uint64_t nLastQueued = 0;  // the last record queued, or the one its subscription started after
  bool bHeld = false;        // the queue was full: nothing more is taken until it subscribes again
  bool bFailed = false;      // its subscription reported an error
  uint64_t nHolds = 0;       // how often the queue was full for it
};

class CGuardInbox {
 public:
  static constexpr size_t kMaxEvents = 20000;

  // false when the queue is full: an event of no event log is counted as dropped; an event log
  // record holds its channel (see CChannelState), as does any record while it is held.
  bool Push(const CLogonEvent& event);
  size_t Room();
  // Up to max events, oldest first.
  std::vector<CLogonEvent> Take(size_t max);
  uint64_t Dropped();

  // A subscription starts after this record (0: with future events); held and failed end.
  void StartChannel(EEventChannel channel, uint64_t afterRecord);
  void ChannelFailed(EEventChannel channel);  // from the subscription's callback
  CChannelState Channel(EEventChannel channel);

  void Report(EGuardSource source, bool available, const std::string& text);
  void Forget(EGuardSource source);  // the source stopped: nothing reported any more
  CSourceState State(EGuardSource source);
  // The remote desktop log is part of the event log switch but reports apart, so that a server
  // without it (or Wine) still shows the Security log's state.
  void ReportRemoteDesktop(bool available, const std::string& text);
  CSourceState RemoteDesktopState();

 private:
  static constexpr int kRemoteDesktopSlot = kGuardSourceCount;
  void ReportSlot(int slot, bool available, const std::string& text);

  std::mutex m_lock;
  std::deque<CLogonEvent> m_events;
  uint64_t m_nDropped = 0;
  CSourceState m_states[kGuardSourceCount + 1];
  CChannelState m_channels[kEventChannelCount];
};
