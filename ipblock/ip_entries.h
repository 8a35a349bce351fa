#pragma once
// Blocked and exception entries as the program holds them, and how they are built from text.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class IClock;

// A blocked address (or pattern, octet 0 = any) for one port or all ports (0).
struct _CIPFilter {
  uint32_t dwIp = 0;        // network order
  uint32_t dwPort = 0;      // htons of the port, zero-extended
  uint32_t dwReserved = 0;
  int32_t tExpire = 0;      // low 32 bits of time(); 0 = never
  std::string strTime;      // duration label
  std::string strAction;    // always "add"
  int32_t nType = 1;        // 1 = by hand or loaded, 0 = automatic
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

std::unique_ptr<_CIPFilter> CreateIpFilter(const std::string& ipText, const std::string& portText,
                                           const std::string& label, int type, IClock& clock);
std::unique_ptr<_CIPOuter> CreateIpOuter(const std::string& ipText, const std::string& portText);
