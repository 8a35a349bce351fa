#include "common/adapter_list_win32.h"

std::vector<uint8_t> ReadAdapterList(ULONG flags) {
  ULONG size = 16 * 1024;
  std::vector<uint8_t> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  // The list may grow between the size answer and the next call.
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.assign(size, 0);
    result = GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) buffer.clear();
  return buffer;
}
