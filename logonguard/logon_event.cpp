#include "logonguard/logon_event.h"

#include <cctype>

bool IsAnonymousUser(const std::string& user) {
  std::string lower;
  for (char c : user) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == "anonymous logon" || lower == "anonymous" || lower == "ftp";
}
