#pragma once
#include "common/process_mutexes_win32.h"

// The three unnamed mutexes of the process, in their fixed order (the status mutex last).
void CreateProcessMutexes();
