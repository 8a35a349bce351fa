#pragma once
// Counts logon failures per address and source and asks for one block when an address reaches
// the threshold within the period. Memory stays bounded whatever arrives: a cap on tracked
// addresses (rows that cannot block soon go first: see Add), on the user names kept per row, on
// the times kept per row (never more than the threshold).
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "common/clock.h"
#include "ipblock/ip_outcomes.h"
#include "logonguard/logon_address.h"
#include "logonguard/logon_event.h"

// Where blocks go; the program wires it to BlockIp with its protection checks, so an exception,
// an own address or the service host is refused there and never blocked.
class IBlockPort {
 public:
  virtual ~IBlockPort() = default;
  // true when the address is blocked now (added, or already blocked).
  virtual bool RequestBlock(const std::string& ipv4, ELogonSource source) = 0;
  // Why the last request was refused; kNone when the port does not say.
  virtual EBlockRefusal LastRefusal() const { return EBlockRefusal::kNone; }
};

struct CPolicyLimits {
  int nThreshold = 5;          // failures that block
  int64_t nPeriodSeconds = 600;
  bool bSourceOn[kLogonSourceCount] = {true, true, true, true};
  size_t nMaxAddresses = 4096;
  size_t nMaxUsersPerRow = 8;
  int64_t nKeepSeconds = 86400;  // a row with no failure for this long leaves the table
};

// One row of the table of recent failing addresses.
struct CFailureRow {
  std::string strAddress;
  bool bIpv6 = false;  // shown, never blocked: the driver filters IPv4 only
  ELogonSource eSource = ELogonSource::kWindowsNetwork;
  std::vector<std::string> users;  // distinct names tried, first ones kept
  int nRecent = 0;                 // failures within the period
  int64_t nTotal = 0;              // failures since the row was made
  int64_t tLast = 0;
  bool bBlocked = false;           // a block was asked for and taken
  bool bRefused = false;           // a block was asked for and refused (exception, own address)
  EBlockRefusal eRefusal = EBlockRefusal::kNone;  // why, as the block port said
};

// When a failure counts: its record's own time (UTC seconds, 0 for none) when that is no more
// than kRecordSkewSeconds ahead of now and within the period of now; otherwise now, so a wrong
// clock or time zone in a log never hides failures nor places them in the future.
int64_t FailureTime(int64_t recordTime, int64_t now, int64_t periodSeconds);

class CFailurePolicy {
 public:
  // How far ahead of the program's clock a record's time may be (the two clocks differ a little).
  static constexpr int64_t kRecordSkewSeconds = 120;

  CFailurePolicy(IClock& clock, IBlockPort& blocks) : m_clock(clock), m_blocks(blocks) {}

  // Settings changes keep the rows; a lower threshold applies from the next failure.
  void SetLimits(const CPolicyLimits& limits);
  const CPolicyLimits& Limits() const { return m_limits; }

  // One event from any source; true when it led to a block request. A failure counts at its
  // record's time (FailureTime), else when it arrives.
  bool OnEvent(const CLogonEvent& event);
  // The rows, latest failure first; rows older than nKeepSeconds are dropped first.
  std::vector<CFailureRow> Rows();
  size_t TrackedAddresses() const { return m_rows.size(); }

 private:
  struct CEntry {
    CFailureRow row;
    std::deque<int64_t> times;  // recent failures, at most nThreshold
  };
  CEntry* Find(const std::string& address, ELogonSource source);
  CEntry& Add(const CLogonAddress& address, ELogonSource source, int64_t now);
  void DropOld(int64_t now);
  void Forget(CEntry& entry, int64_t now);

  IClock& m_clock;
  IBlockPort& m_blocks;
  CPolicyLimits m_limits;
  std::vector<CEntry> m_rows;
};
