#pragma once
// Shared read/write helpers of the configuration file.
#include <string>
#include <vector>

class IProfileStore;

extern const char kConfigFile[];  // ".\tavrick.cfg"
constexpr size_t kIniValueLimit = 9999;  // the read buffer holds 10,000 bytes with its NUL

std::string ReadIni(IProfileStore& store, const std::string& file, const std::string& section,
                    const std::string& key);
int WriteIni(IProfileStore& store, const std::string& file, const std::string& section,
             const std::string& key, const std::string& value);

// C atoi of the text; a 0 from anything but the exact text "0" gives the default.
int IniInt(const std::string& text, int defaultValue);
std::string IniString(const std::string& text, const std::string& defaultValue);
// Splits at a one-character separator; empty middle fields are kept, an empty tail is not.
void SplitString(const std::string& text, char separator, std::vector<std::string>& out);
