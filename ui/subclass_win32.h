#pragma once
// Taking over a control's messages: the owner is found again through a window property, and
// the control gets its own procedure back when the owner lets go.
#include <windows.h>

inline WNDPROC SubclassControl(HWND control, const char* property, void* owner, WNDPROC proc) {
  SetPropA(control, property, owner);
  return reinterpret_cast<WNDPROC>(SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
}

// Nothing to give back once the control is gone.
inline void UnsubclassControl(HWND control, const char* property, WNDPROC oldProc) {
  if (!IsWindow(control)) return;
  SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(oldProc));
  RemovePropA(control, property);
}
