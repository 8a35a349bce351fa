#include "logonguard/guard_blocks.h"

#include "common/crt_text.h"
#include "common/ip_entries.h"
#include "ipblock/flood_blocking.h"
#include "ipblock/ip_tables.h"

BlockIpOutcome BlockForLogonGuard(const std::string& ipv4, const std::string& label) {
  const BlockIpOutcome outcome = BlockIp(ipv4, "0", label, 0);
  if (outcome == BlockIpOutcome::kAdded && !g_pIpFilterList.empty())
    MarkEntryReported(g_pIpFilterList.Entries().back()->nSerial);
  return outcome;
}

EBlockRefusal GuardRefusal(const std::string& ipv4, BlockIpOutcome outcome) {
  // The entry BlockForLogonGuard made: every port, marked exact.
  _CIPFilter entry;
  entry.dwIp = InetAddr(ipv4);
  MarkExact(entry);
  return RefusalOf(outcome, outcome == BlockIpOutcome::kProtected ? ProtectionOf(entry) : EBlockProtection::kNone);
}

bool BlockedInTable(const std::string& ipv4) { return IsIpFiltered(InetAddr(ipv4)); }
