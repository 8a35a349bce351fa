#pragma once
// Bounds of every request to the vendor service, so that a slow, silent or endless answer
// (the service is reached over plain HTTP) can hold a request thread, and with it the status
// lock, only for a bounded time, and cannot fill the memory.
#include <cstddef>
#include <cstdint>
#include <string>

struct CHttpBounds {
  uint32_t nConnectMs;     // to connect to the host
  size_t nMaxAnswerBytes;  // the answer is cut here
  uint32_t nDeadlineMs;    // the whole request: connect, send, headers and body
};

// Every request ends within 30 s, however the service answers: at the deadline its handles
// are closed (a service that trickles its headers a byte at a time is cut off too).
constexpr CHttpBounds kServiceHttpBounds{5000, 64 * 1024, 30000};

// The send and receive time-out of a request elapsedMs into its deadline: all the time that
// is left, so a service that answers late but within the deadline is waited for (a shorter
// time-out lost every alert of a service slower than it). Never 0, which means no time-out.
uint32_t StepTimeoutMs(const CHttpBounds& bounds, uint32_t elapsedMs);

// Collects an answer piece by piece: each piece counts up to its first zero byte (the answer
// is text), and the answer stops growing at the cap.
class CAnswerCollector {
 public:
  explicit CAnswerCollector(size_t maxBytes) : m_nMaxBytes(maxBytes) {}
  // False once the answer is full: stop reading.
  bool Add(const char* piece, size_t size);
  const std::string& Text() const { return m_strText; }

 private:
  size_t m_nMaxBytes;
  std::string m_strText;
};
