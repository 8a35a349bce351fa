#pragma once
// Bounds of every request to the vendor service, so that a slow, silent or endless answer
// (the service is reached over plain HTTP) can hold a request thread, and with it the status
// lock, only for a bounded time, and cannot fill the memory; and what a cut-off request
// (common/cutoff_http.h) means for a caller that must not send anything twice.
#include <cstddef>
#include <cstdint>
#include <string>

#include "alerts/service_ports.h"
#include "common/cutoff_http.h"

struct CHttpBounds {
  uint32_t nConnectMs;     // to connect to the host
  size_t nMaxAnswerBytes;  // the answer is cut here
  uint32_t nDeadlineMs;    // the whole request: connect, send, headers and body
};

// Every request ends within 30 s, however the service answers: at the deadline its handles
// are closed (a service that trickles its headers a byte at a time is cut off too).
constexpr CHttpBounds kServiceHttpBounds{5000, 64 * 1024, 30000};

// The answer as the service client reads it: a success status with the body's text up to its
// first zero byte (what came before a cut-off is the answer); an error status is refused, its
// text no answer; a request that never connected was not sent, and one that did may have
// reached the service.
CHttpAnswer ServiceAnswer(const CCutOffAnswer& answer);
