#pragma once
// The identifier that names this server to the vendor service.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

using CAdapterAddress = std::array<uint8_t, 6>;

// "%02X%02X%02X%02X%02X%02X\n" of the adapter address.
std::string FormatAdapterAddress(const CAdapterAddress& address);

// The first adapter that answered; with none, the signed decimal of inet_addr of the
// server's first own address.
std::string ChooseMachineId(const std::vector<CAdapterAddress>& answered, const std::string& firstLocalIp);
