#include "alerts/http_bounds.h"

#include <algorithm>
#include <cstring>

uint32_t StepTimeoutMs(const CHttpBounds& bounds, uint32_t elapsedMs) {
  return elapsedMs < bounds.nDeadlineMs ? bounds.nDeadlineMs - elapsedMs : 1;
}

bool CAnswerCollector::Add(const char* piece, size_t size) {
  const void* zero = std::memchr(piece, '\0', size);
  size_t length = zero ? static_cast<size_t>(static_cast<const char*>(zero) - piece) : size;
  length = std::min(length, m_nMaxBytes - std::min(m_nMaxBytes, m_strText.size()));
  m_strText.append(piece, length);
  return m_strText.size() < m_nMaxBytes;
}
