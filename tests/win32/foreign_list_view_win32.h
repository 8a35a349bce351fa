#pragma once
// Reads a list view of another process, row by row, through that process's memory.
#include <windows.h>

#include <string>
#include <vector>

std::vector<std::vector<std::string>> ForeignListRows(HWND list, int columns);
