#include "alerts/http_bounds.h"

#include <cstring>

CHttpAnswer ServiceAnswer(const CCutOffAnswer& answer) {
  switch (answer.reach) {
    case ERequestReach::kNotSent: return CHttpAnswer{"", HttpOutcome::kNotSent};
    case ERequestReach::kSent: return CHttpAnswer{"", HttpOutcome::kNoAnswer};
    case ERequestReach::kStatus: break;
  }
  if (answer.nStatus < 200 || answer.nStatus > 299) return CHttpAnswer{"", HttpOutcome::kRefused};
  const std::string& body = answer.strBody;
  const void* zero = std::memchr(body.data(), '\0', body.size());
  const size_t length = zero ? static_cast<size_t>(static_cast<const char*>(zero) - body.data()) : body.size();
  return CHttpAnswer{body.substr(0, length), HttpOutcome::kAnswered};
}
