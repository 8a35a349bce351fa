#pragma once
#include "config/profile_store.h"

// The system's private-profile functions (GetPrivateProfileStringA / WritePrivateProfileStringA).
class CWin32ProfileStore : public IProfileStore {
 public:
  std::string Get(const std::string& file, const std::string& section, const std::string& key) override;
  bool Put(const std::string& file, const std::string& section, const std::string& key,
           const std::string& value) override;
};
