#pragma once
// What one cut-off HTTP GET (common/cutoff_http_win32.h) is asked and what it brings back. The
// program's requests to the vendor service and the updater's downloads both go through it.
#include <cstddef>
#include <cstdint>
#include <string>

struct CCutOffRequest {
  const char* pszAgent;  // the user agent
  uint32_t nConnectMs;   // to connect to the host
  uint32_t nDeadlineMs;  // the whole request: connect, send, headers and body
  size_t nMaxBytes;      // the body is kept up to here
};

// How far a request came: a caller that must not send anything twice tells a request that never
// left (nothing was connected, sent or answered) from one the server may have received.
enum class ERequestReach {
  kNotSent,  // no connection was made (refused, no such host, the connect timed out)
  kSent,     // the request was being sent: the server may have it, but no status came back
  kStatus,   // a status line came back (nStatus)
};

// The send and receive time-out of a request elapsedMs into its deadline: all the time that is
// left, so a server that answers late but within the deadline is waited for (a shorter time-out
// lost every answer of a server slower than it). Never 0, which means no time-out.
constexpr uint32_t StepTimeoutMs(uint32_t deadlineMs, uint32_t elapsedMs) {
  return elapsedMs < deadlineMs ? deadlineMs - elapsedMs : 1;
}

struct CCutOffAnswer {
  ERequestReach reach = ERequestReach::kNotSent;
  uint32_t nStatus = 0;
  std::string strBody;     // what arrived of the body, at most nMaxBytes
  bool bComplete = false;  // the server ended the body itself, within the deadline and the cap
};
