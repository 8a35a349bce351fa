#pragma once
// The Win32 side of log_text.h: UTF-8 values to the ANSI code page.
#include <string>

// No best-fit mapping (a fullwidth or lookalike character never becomes an ASCII one): what
// the code page lacks becomes '?'. Text that is not UTF-8 is returned as it is.
std::string Utf8ToAnsi(const std::string& utf8);
