// Linked into tavrick_next.exe in place of the program's own version number.
#include "common/version.h"

const char kVersionNumber[] = "2.40";
