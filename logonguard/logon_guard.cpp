#include "logonguard/logon_guard.h"

namespace {
ILogonGuard* g_pLogonGuard = nullptr;
}  // namespace

ILogonGuard* TheLogonGuard() { return g_pLogonGuard; }
void SetTheLogonGuard(ILogonGuard* guard) { g_pLogonGuard = guard; }
