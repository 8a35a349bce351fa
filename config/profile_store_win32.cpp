#include "config/profile_store_win32.h"

#include <windows.h>

#include <vector>

std::string CWin32ProfileStore::Get(const std::string& file, const std::string& section,
                                    const std::string& key) {
  std::vector<char> buffer(10000, '\0');
  DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer.data(),
                                     static_cast<DWORD>(buffer.size()), file.c_str());
  return std::string(buffer.data(), n);
}

bool CWin32ProfileStore::Put(const std::string& file, const std::string& section, const std::string& key,
                             const std::string& value) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) != FALSE;
}
