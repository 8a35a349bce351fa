#include "config/ini_access.h"

#include "common/crt_text.h"
#include "config/profile_store.h"

const char kConfigFile[] = ".\\tavrick.cfg";

std::string ReadIni(IProfileStore& store, const std::string& file, const std::string& section,
                    const std::string& key) {
  return store.Get(file, section, key);
}

int WriteIni(IProfileStore& store, const std::string& file, const std::string& section,
             const std::string& key, const std::string& value) {
  if (store.Get(file, section, key) == value && store.Has(file, section, key)) return 1;
  return store.Put(file, section, key, value) ? 1 : 0;
}

int IniInt(const std::string& text, int defaultValue) {
  const int value = CAtoi(text.c_str());
  if (value == 0 && text != "0") return defaultValue;
  return value;
}

std::string IniString(const std::string& text, const std::string& defaultValue) {
  return text.empty() ? defaultValue : text;
}

void SplitString(const std::string& text, char separator, std::vector<std::string>& out) {
  out.clear();
  size_t start = 0;
  for (size_t pos; (pos = text.find(separator, start)) != std::string::npos; start = pos + 1)
    out.push_back(text.substr(start, pos - start));
  if (start < text.size()) out.push_back(text.substr(start));
}
