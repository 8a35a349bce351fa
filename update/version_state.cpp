#include "update/version_state.h"

std::string g_strLatestVersion;
