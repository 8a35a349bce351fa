#include "config/profile_store.h"

std::string CMemoryProfileStore::Get(const std::string& file, const std::string& section,
                                     const std::string& key) {
  auto it = m_values.find({file, section, key});
  return it == m_values.end() ? std::string() : it->second;
}

bool CMemoryProfileStore::Put(const std::string& file, const std::string& section, const std::string& key,
                              const std::string& value) {
  ++m_nWrites;
  if (m_bFailWrites) return false;
  m_values[{file, section, key}] = value;
  return true;
}

bool CMemoryProfileStore::Has(const std::string& file, const std::string& section, const std::string& key) {
  return m_values.count({file, section, key}) != 0;
}
