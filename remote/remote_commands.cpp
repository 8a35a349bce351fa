#include "remote/remote_commands.h"

#include "alerts/service_answers.h"
#include "common/crt_text.h"
#include "remote/md5.h"

namespace {
// Entry positions of a request.
constexpr size_t kRebootFlag = 0, kReleaseFlag = 1, kPassword = 2, kEntries = 3;
}  // namespace

bool RemotePasswordMatches(const std::string& typed, const std::string& storedDigest) {
  const std::string stored = TrimAnswer(storedDigest);
  if (stored.empty()) return false;
  return MD5Text(TrimAnswer(typed)) == storedDigest;
}

bool CheckRemoteCommands(const CRemoteCommandPorts& ports) {
  if (!ports.pLock->TryLock()) return false;
  std::vector<std::string> request;
  bool poll = false;
  try {
    if (ports.pCommands->size() < kEntries)
      poll = true;
    else
      request.swap(*ports.pCommands);  // consumed whatever it holds
  } catch (...) {
  }
  ports.pLock->Unlock();
  if (poll) {
    if (ports.startPoll) ports.startPoll();
    return false;
  }
  if (request.size() < kEntries || !RemotePasswordMatches(request[kPassword], *ports.pStoredDigest)) return false;
  if (CAtoi(request[kRebootFlag].c_str()) == 1 && ports.remoteReboot) ports.remoteReboot();
  return CAtoi(request[kReleaseFlag].c_str()) == 1 && ports.releaseAll && ports.releaseAll();
}
