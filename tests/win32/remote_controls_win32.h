#pragma once
// Reads common controls of another process: list view rows and column titles, tab item
// rectangles (their messages carry pointers, so the buffers live in that process).
#include <windows.h>

#include <string>

int RemoteListCount(HWND list);
std::string RemoteListText(HWND list, int row, int column);
std::string RemoteColumnTitle(HWND list, int column);
RECT RemoteListRowRect(HWND list, int row);  // client coordinates of the whole row
int RemoteSelectedRow(HWND list);            // -1 when none is selected
// The client rectangle of a tab control's item; empty when it cannot be read.
RECT RemoteTabItemRect(HWND tab, int item);
// A click with the left button at a point of a window's client area.
void PostClick(HWND window, int x, int y);
// The child dialog of `parent` (at any depth) that holds a control with this id.
HWND ChildDialogWith(HWND parent, int controlId);
