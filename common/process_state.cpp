#include "common/process_state.h"

int64_t g_llProtectSeconds = 0;
int32_t g_nSecondsSinceStart = 0;
int64_t g_tStartTime = 0;

std::vector<std::string> g_saLocalIp;
uint32_t g_dwServiceIp = 100000;
