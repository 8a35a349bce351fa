#include "ipblock/remote_command_hook.h"

namespace {
RemoteCommandCheck& Check() {
  static RemoteCommandCheck check;
  return check;
}
unsigned g_nRemoteCommandPeriodMs = kRemoteCommandPeriodMs;
}  // namespace

void SetRemoteCommandCheck(RemoteCommandCheck check) { Check() = std::move(check); }

bool RunRemoteCommandCheck() {
  const RemoteCommandCheck check = Check();  // a copy: the check may replace itself
  return check ? check() : false;
}

void SetRemoteCommandPeriodMs(unsigned milliseconds) { g_nRemoteCommandPeriodMs = milliseconds; }

unsigned RemoteCommandPeriodMs() { return g_nRemoteCommandPeriodMs; }
