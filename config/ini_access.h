#pragma once
// Shared read/write helpers of the configuration file.
#include <string>
#include <vector>

class IProfileStore;

extern const char kConfigFile[];  // ".\tavrick.cfg"

// The whole value, whatever its length; "" when the file, section or key is missing.
std::string ReadIni(IProfileStore& store, const std::string& file, const std::string& section,
                    const std::string& key);
// 1 when the key holds the value afterwards. A value that is already there is not written again:
// every write rewrites the whole file, and each rewrite is a chance to lose it.
int WriteIni(IProfileStore& store, const std::string& file, const std::string& section,
             const std::string& key, const std::string& value);

// C atoi of the text; a 0 from anything but the exact text "0" gives the default.
int IniInt(const std::string& text, int defaultValue);
std::string IniString(const std::string& text, const std::string& defaultValue);
// Splits at a one-character separator; empty middle fields are kept, an empty tail is not.
void SplitString(const std::string& text, char separator, std::vector<std::string>& out);
