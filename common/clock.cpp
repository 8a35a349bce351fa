#include "common/clock.h"

#include <ctime>

int64_t CSystemClock::Now() { return static_cast<int64_t>(std::time(nullptr)); }
