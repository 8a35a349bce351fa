#pragma once
#include <string>

// The newest version known to the program: its own until the version check learns better.
extern std::string g_strLatestVersion;
