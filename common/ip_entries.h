#pragma once
// Blocked and exception entries as the program holds them (their first bytes are also the
// driver's records), and how they are built from text. Below both the configuration and the
// tables, so neither has to reach into the other for them.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class IClock;

// A number that grows with every blocked entry made in this process; lists use it to tell an
// entry from a later one (the alert's count of the rows it has looked at).
uint64_t NextEntrySerial();

// The reserved word of a blocked entry: entries carrying this mark block exactly their address;
// without it a 0 octet stands for any value 0-255. Automatic blocks carry it, so a counted
// address such as 61.0.0.0 never turns into the pattern 61.*.*.*. The bytes spell "EXCT".
constexpr uint32_t kExactMatchMark = 0x54435845;

// A blocked address (or pattern, octet 0 = any, unless marked exact) for one port or all ports (0).
struct _CIPFilter {
  uint32_t dwIp = 0;        // network order
  uint32_t dwPort = 0;      // htons of the port, zero-extended
  uint32_t dwReserved = 0;  // kExactMatchMark or 0
  int32_t tExpire = 0;      // low 32 bits of time(); 0 = never
  std::string strTime;      // duration label
  std::string strAction;    // always "add"
  int32_t nType = 1;        // 1 = by hand or loaded, 0 = automatic
  uint64_t nSerial = NextEntrySerial();  // order of creation; not part of the driver record
};

// An address (or pattern) that is never blocked.
struct _CIPOuter {
  uint32_t dwIp = 0;
  uint32_t dwPort = 0;
};

// The tables own their entries.
using CIpFilterList = std::vector<std::unique_ptr<_CIPFilter>>;
using CIpOuterList = std::vector<std::unique_ptr<_CIPOuter>>;

struct CBlockTime {
  const char* szLabel;
  int nSeconds;
};
extern const CBlockTime g_BlockTimes[8];
extern const char kForeverLabel[];  // "永远"

// Seconds of a duration label; an unknown label yields 1, not 0.
int BlockSeconds(const std::string& label);

// An automatic entry (type 0) is marked exact. A timed entry never gets the expiry word 0,
// which means "never".
std::unique_ptr<_CIPFilter> CreateIpFilter(const std::string& ipText, const std::string& portText,
                                           const std::string& label, int type, IClock& clock);
std::unique_ptr<_CIPOuter> CreateIpOuter(const std::string& ipText, const std::string& portText);

// Four decimal octets 0-255, no leading zeros, nothing else: the one form inet_addr reads the
// way a person does (a.b.c, 010 and 0x0a do not). Fills out[] in the order written.
bool ParseDottedQuad(const std::string& text, uint8_t out[4]);

inline bool IsExactEntry(const _CIPFilter& entry) { return entry.dwReserved == kExactMatchMark; }
inline void MarkExact(_CIPFilter& entry) { entry.dwReserved = kExactMatchMark; }

// Whether a timed entry's moment has passed (strictly). The expiry word holds the low 32 bits
// of the time, so the comparison is made there, by the signed distance, and keeps working when
// the clock passes 2^31 (2038) or 2^32.
bool ExpiryPassed(int32_t tExpire, int64_t now);
