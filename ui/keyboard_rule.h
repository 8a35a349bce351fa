#pragma once
// No dialog of the program ends by keyboard: Escape key-downs and every keyboard message
// carrying the Enter key code are swallowed before dialog navigation sees them.
#include <cstdint>

bool SwallowDialogKey(unsigned message, uintptr_t keyCode);
