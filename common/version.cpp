#include "common/version.h"

const char kVersionNumber[] = "2.36";
