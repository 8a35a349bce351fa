#pragma once
// Bounds of every request to the vendor service, so that a slow, silent or endless answer
// (the service is reached over plain HTTP) can hold a request thread, and with it the status
// lock, only for a bounded time, and cannot fill the memory.
#include <cstddef>
#include <cstdint>
#include <string>

struct CHttpBounds {
  uint32_t nConnectMs;      // to connect to the host
  uint32_t nSendMs;         // to send the request
  uint32_t nReceiveMs;      // for the answer to begin, and between two of its pieces
  uint32_t nWholeAnswerMs;  // for the whole answer, however it trickles in
  size_t nMaxAnswerBytes;   // the answer is cut here
  uint32_t nDeadlineMs;     // the whole request: connect, send, headers and body
};

// Every request ends within 30 s, however the service answers: at the deadline its handles
// are closed (a service that trickles its headers a byte at a time is cut off too).
constexpr CHttpBounds kServiceHttpBounds{5000, 5000, 10000, 20000, 64 * 1024, 30000};

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
