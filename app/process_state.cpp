#include "app/process_state.h"

CSettings g_Settings;

int64_t g_llProtectSeconds = 0;
int32_t g_nSecondsSinceStart = 0;
int64_t g_tStartTime = 0;
