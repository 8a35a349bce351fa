#pragma once
// Port to the private-profile (ini) file functions.
#include <map>
#include <string>
#include <tuple>

class IProfileStore {
 public:
  virtual ~IProfileStore() = default;
  // The value, or "" when the file, section or key is missing.
  virtual std::string Get(const std::string& file, const std::string& section, const std::string& key) = 0;
  // Replaces or adds one key (creating file and section); false when the write failed.
  virtual bool Put(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) = 0;
};

// In-memory store for tests and tools.
class CMemoryProfileStore : public IProfileStore {
 public:
  std::string Get(const std::string& file, const std::string& section, const std::string& key) override;
  bool Put(const std::string& file, const std::string& section, const std::string& key,
           const std::string& value) override;
  bool Has(const std::string& file, const std::string& section, const std::string& key) const;
  bool m_bFailWrites = false;
  int m_nWrites = 0;

 private:
  std::map<std::tuple<std::string, std::string, std::string>, std::string> m_values;
};
