#pragma once
// Automatic flood blocking: the limit check, the ping rule and the alert on automatic blocks.
// The statistics window that feeds the limit check is traffic/stats_window.h. Everything runs
// in window timers on the user-interface thread.
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "config/settings.h"
#include "driver/driver_records.h"

class IProfileStore;

// Blocks one address for all ports as an automatic (type 0) entry; the outcome is not used.
using AutoBlock = std::function<void(const std::string& ipText, const std::string& portText,
                                     const std::string& label, int type)>;

// Rounds megabytes to a whole number exactly as the C format "%.f" prints it.
int RoundMbLikePrintf(float mb);

// A limit of 0 or less is no limit; a count above a positive limit blocks.
void CheckIpLimits(int count, int mb, const std::string& ipText, const std::string& portText,
                   const std::string& label, const CSettings& settings, const AutoBlock& block);

// Sends the ICMP rule that matches pingin/pingout and writes both flags back.
void ApplyPingPolicy(const CSettings& settings, const std::vector<std::string>& localIps,
                     const std::function<int(const _CPingRule&)>& send, IProfileStore& store);

// sysicetimer, sysiceipcount and sysiceipmb as the blocked-IP dialog saves them (after its
// digit checks), written to section "sysice"; the caller shows "保存完毕!".
void SaveBlockSettings(CSettings& settings, const std::string& label, int count, int mb, IProfileStore& store);

// One row of the blocked-IP list as the alert reads it.
struct CBlockedRow {
  std::string strIp;    // the address in list form
  std::string strType;  // "0" for an automatic block
  uint64_t nSerial = 0;  // the entry's creation serial (rows stand in table order)
};

// How many rows of the list the alert has looked at, and which entries they show (their
// creation serials). A row is new to the alert while its entry's serial is not among these,
// wherever it stands in the list: the list may show a row added by hand before an automatic
// entry that the next rebuild brings in below it, and that entry is new all the same. The
// serials of entries no longer listed are dropped at each rebuild.
extern int32_t g_nReportedRows;
extern std::set<uint64_t> g_ReportedSerials;
extern std::string g_strBlockedIps;
extern int64_t g_tLastBlockAlert;
// g_strBlockedIps holds an automatic block that the 60 s spacing kept back: the first pass after
// the spacing sends it, new rows or not.
extern bool g_bBlockAlertHeld;
extern const char kBlockAlertPrefix[];  // "IP地址："
extern const char kBlockAlertSuffix[];  // "被Tavrick屏蔽，原因:类似ddos攻击或访问流量过大!"

// One pass of the automatic-block alert over the rows of the blocked-IP list. While the alert
// switch is off, new rows count as looked at and nothing waits to be sent. Addresses kept back
// by the spacing go out with the first pass after it, with or without new rows.
void ReportBlockedIps(const std::vector<CBlockedRow>& rows, int64_t now, bool ipfilterchk,
                      const std::function<void(const std::string&)>& dispatch);
// Every row listed now counts as looked at (protection start). A release by hand rebases
// instead: a shown automatic block not yet alerted on must stay new to the alert.
void MarkRowsReported(const std::vector<CBlockedRow>& rows);
// An entry whose block another part of the program alerts on with its own reason (the logon
// guard): the flood alert counts it as looked at.
void MarkEntryReported(uint64_t serial);
// After a rebuild or a release by hand: the count becomes the number of rows looked at that are
// still listed.
void RebaseReportedRows(const std::vector<CBlockedRow>& rows);
