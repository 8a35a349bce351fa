#pragma once
// Which filters carry one entry of the driver's tables: the meaning of a blocked entry, an
// exception and the ping rule, written as WFP filters of our sublayer. Portable, so the model
// of the engine can judge exactly what the device installs.
#include <cstdint>
#include <vector>

#include "common/ip_entries.h"
#include "driver/driver_records.h"
#include "wfpfilter/wfp_engine_port.h"

// Inside our sublayer the heaviest matching filter decides: the ping rule outweighs the
// exceptions (a ping from an excepted address is still refused, as the driver does), and the
// exceptions outweigh every block.
constexpr uint8_t kPingRuleWeight = 15;
constexpr uint8_t kExceptionWeight = 10;
constexpr uint8_t kBlockWeight = 5;

// A pattern whose 0 octets are not all trailing is written as address ranges, one per value of
// the inner 0 octets, up to this many; a wider one (0.0.0.5) is refused.
constexpr int kMaxRangesPerEntry = 256;

// The filters of one blocked entry; false (and nothing in *filters) when its pattern cannot be
// written within kMaxRangesPerEntry ranges.
bool PlanBlock(const _CIPFilter& entry, std::vector<CWfpFilterSpec>* filters);
// The permits of one exception (equal address, or the octets up to its first 0; a pattern
// whose first octet is 0 covers only itself).
std::vector<CWfpFilterSpec> PlanException(const _CIPOuter& entry);
// The blocks of the ping rule; none for "0" or any other protocol text.
std::vector<CWfpFilterSpec> PlanPingRule(const _CPingRule& rule);

// An address of the records (network order, as inet_addr gives it) as the engine takes it.
uint32_t EngineAddress(uint32_t networkOrder);
