#include "ipblock/flood_blocking.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "common/crt_text.h"
#include "config/ini_access.h"

int32_t g_nReportedRows = 0;
std::set<uint64_t> g_ReportedSerials;
std::string g_strBlockedIps;
int64_t g_tLastBlockAlert = 0;
bool g_bBlockAlertHeld = false;
const char kBlockAlertPrefix[] = "IP地址：";
const char kBlockAlertSuffix[] = "被Tavrick屏蔽，原因:类似ddos攻击或访问流量过大!";

int RoundMbLikePrintf(float mb) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.f", static_cast<double>(mb));
  return std::atoi(text);
}

void CheckIpLimits(int count, int mb, const std::string& ipText, const std::string& portText,
                   const std::string& label, const CSettings& settings, const AutoBlock& block) {
  // 0 is no limit; so is a negative one (only a damaged or hand-edited file holds one), which
  // would otherwise block every address that sent anything.
  if (settings.sysiceipcount > 0 && count > settings.sysiceipcount) block(ipText, portText, label, 0);
  if (settings.sysiceipmb > 0 && mb > settings.sysiceipmb) block(ipText, portText, label, 0);
}

void ApplyPingPolicy(const CSettings& settings, const std::vector<std::string>& localIps,
                     const std::function<int(const _CPingRule&)>& send, IProfileStore& store) {
  auto write = [&](const char* key, const char* value) { WriteIni(store, kConfigFile, ini::kPing, key, value); };
  if (settings.pingin && settings.pingout) {
    send(MakePingRule("ICMP", 1));
    write("pingin", "1");
    write("pingout", "1");
  } else if (settings.pingin) {
    if (localIps.empty()) return;
    send(MakePingRule("ICMP", InetAddr(localIps.front())));
    write("pingin", "1");
  } else if (settings.pingout) {
    write("pingin", "0");
    send(MakePingRule("ICMP", 0));
    write("pingout", "1");
  } else {
    write("pingin", "0");
    write("pingout", "0");
    send(MakePingRule("0", 0));
  }
}

void SaveBlockSettings(CSettings& settings, const std::string& label, int count, int mb, IProfileStore& store) {
  settings.sysicetimer = label;
  settings.sysiceipcount = count;
  settings.sysiceipmb = mb;
  WriteIni(store, kConfigFile, ini::kSysice, "sysicetimer", label);
  WriteIni(store, kConfigFile, ini::kSysice, "sysiceipcount", std::to_string(count));
  WriteIni(store, kConfigFile, ini::kSysice, "sysiceipmb", std::to_string(mb));
}

namespace {

bool Seen(const CBlockedRow& row) { return g_ReportedSerials.count(row.nSerial) != 0; }

void LookedAt(const std::vector<CBlockedRow>& rows) {
  g_nReportedRows = static_cast<int32_t>(rows.size());
  for (const CBlockedRow& row : rows) g_ReportedSerials.insert(row.nSerial);
}

}  // namespace

void ReportBlockedIps(const std::vector<CBlockedRow>& rows, int64_t now, bool ipfilterchk,
                      const std::function<void(const std::string&)>& dispatch) {
  if (g_nReportedRows < 0) g_nReportedRows = 0;
  std::vector<const CBlockedRow*> fresh;
  for (const CBlockedRow& row : rows)
    if (!Seen(row)) fresh.push_back(&row);
  if (!ipfilterchk) {
    // Switched off: nothing piles up to be sent in one go when the switch comes back on.
    g_strBlockedIps.clear();
    g_bBlockAlertHeld = false;
    if (!fresh.empty()) LookedAt(rows);
    return;
  }
  const bool spaced = now - g_tLastBlockAlert > 60;
  bool send = false;
  if (fresh.empty()) {
    // Nothing new: what the spacing kept back goes out by itself once the spacing has passed.
    send = g_bBlockAlertHeld && !g_strBlockedIps.empty() && spaced;
  } else {
    const std::string firstNewType = fresh.front()->strType;
    for (const CBlockedRow* row : fresh) g_strBlockedIps += row->strIp + ",";
    LookedAt(rows);
    // A manual first row holds the alert back for this pass only.
    send = spaced && firstNewType == "0";
    if (!send && std::any_of(fresh.begin(), fresh.end(), [](const CBlockedRow* r) { return r->strType == "0"; })) {
      g_bBlockAlertHeld = true;
    }
  }
  if (!send) return;
  dispatch(kBlockAlertPrefix + g_strBlockedIps + kBlockAlertSuffix);
  g_tLastBlockAlert = now;
  g_strBlockedIps.clear();
  g_bBlockAlertHeld = false;
}

void MarkRowsReported(const std::vector<CBlockedRow>& rows) { LookedAt(rows); }

void MarkEntryReported(uint64_t serial) { g_ReportedSerials.insert(serial); }

void RebaseReportedRows(const std::vector<CBlockedRow>& rows) {
  std::set<uint64_t> listed;
  for (const CBlockedRow& row : rows)
    if (Seen(row)) listed.insert(row.nSerial);
  g_ReportedSerials.swap(listed);
  g_nReportedRows = static_cast<int32_t>(g_ReportedSerials.size());
}
