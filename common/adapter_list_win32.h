#pragma once
// The system's IPv4 adapters with their addresses, as GetAdaptersAddresses reports them.
#include <winsock2.h>
#include <iphlpapi.h>

#include <cstdint>
#include <vector>

// The raw list in its own buffer (the records point into it); empty when the system refused.
// Walk it with FirstAdapter.
std::vector<uint8_t> ReadAdapterList(ULONG flags);

inline const IP_ADAPTER_ADDRESSES* FirstAdapter(const std::vector<uint8_t>& list) {
  return list.empty() ? nullptr : reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(list.data());
}
