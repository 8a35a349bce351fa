#pragma once
// One logon attempt as a source reports it, before the policy decides anything.
#include <cstdint>
#include <string>

// Where a failure was seen; the policy counts each address per source.
enum class ELogonSource {
  kRemoteDesktop,   // Security log, logon type 10; RdpCoreTS 140 (network level authentication)
  kWindowsNetwork,  // Security log, any other logon type (SMB, network level authentication, ...)
  kSqlServer,       // Application log, event 18456 of an MSSQL* provider
  kFtp,             // IIS FTP W3C log
};
constexpr int kLogonSourceCount = 4;

enum class ELogonOutcome { kNone, kFailure, kSuccess };

// The event logs read, each with its own record numbers (and kept position); kNone for a
// record of no event log (FTP).
enum class EEventChannel { kSecurity, kApplication, kRemoteDesktop, kNone };
constexpr int kEventChannelCount = 3;

struct CLogonEvent {
  ELogonOutcome eOutcome = ELogonOutcome::kNone;
  ELogonSource eSource = ELogonSource::kWindowsNetwork;
  std::string strAddress;  // as the record gives it; the policy reads it with ReadLogonAddress
  std::string strUser;     // bounded, see kMaxUserBytes
  int nLogonType = 0;      // Security log only
  uint64_t nRecordId = 0;  // event log only
  std::string strTime;     // System TimeCreated SystemTime, or the W3C date and time
  std::string strProvider; // event log only: the provider's name (SQL Server's instance service)
  int64_t tRecord = 0;     // strTime in seconds since 1970 UTC (both logs write UTC); 0: none
  EEventChannel eChannel = EEventChannel::kNone;  // the log whose record number nRecordId is
  bool bNoAddress = false;  // a Security log failure whose IpAddress is "-" or empty
};

// The logon types whose success clears a count (interactive, network, unlock, network
// cleartext, remote interactive, cached interactive): the ones a person or client signs in
// with from an address. Service, batch and new-credentials logons carry no remote address.
constexpr int kClearingLogonTypes[] = {2, 3, 7, 8, 10, 11};
bool IsClearingLogonType(int type);

// Bounds on what a record may hand over (longer values are cut or refused, never grown).
constexpr size_t kMaxUserBytes = 64;
constexpr size_t kMaxAddressBytes = 64;
constexpr size_t kMaxTimeBytes = 40;

// "2026-12-08T01:02:03.4567890Z" (event log SystemTime) or "2026-12-08 01:02:03" (W3C date and
// time) in seconds since 1970; both are UTC. 0 for any other text or a date before 2000.
int64_t ReadRecordTime(const std::string& text);

// Anonymous sessions sign in without a password: their success never clears a count.
bool IsAnonymousUser(const std::string& user);
