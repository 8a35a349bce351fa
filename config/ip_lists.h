#pragma once
// The two list encodings of the configuration file and the rules for reading them back.
#include <string>

#include "common/ip_entries.h"

class IClock;

// address|port|label per blocked entry, joined by ","; an exactly-matched (automatic) entry
// adds a fourth field "0", its type, so the mark outlives a restart.
std::string EncodeIpFilterList(const CIpFilterList& filters);
// One item of that list.
std::string EncodeIpFilterItem(const _CIPFilter& entry);
// Dotted addresses joined by ",".
std::string EncodeIpOuterList(const CIpOuterList& exceptions);

// Load rules, item by item: blanks around every field are trimmed; an item needs three fields,
// the third not empty (more are ignored, except that a fourth "0" marks the entry exact); the address must be plain
// dotted decimal (four parts 0-255, no leading zeros) and the port plain decimal up to 65535,
// so a cut or malformed item is skipped instead of turning into another address or port; and
// address 0.0.0.0 with port 0, which would block every host, is skipped. Loaded entries are
// type 1 with a new expiry counted from now.
void DecodeIpFilterList(const std::string& text, IClock& clock, CIpFilterList& filters);
// Exception items follow the same address rule; empty and malformed items are skipped.
void DecodeIpOuterList(const std::string& text, CIpOuterList& exceptions);
