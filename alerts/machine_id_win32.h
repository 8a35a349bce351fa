#pragma once
// The machine identifier from the first NetBIOS adapter that tells its address.
#include <string>

// NetBIOS first, the first own address as fallback (alerts/machine_id.h).
std::string ReadMachineId(const std::string& firstLocalIp);
