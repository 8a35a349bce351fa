#pragma once
// The usage bar ("MYSCALERECTCTRL"): black, with a green bar rising from the bottom to the
// value's share of the height.
#include <windows.h>

extern const char kScaleRectClass[];  // "MYSCALERECTCTRL"

class CScalerectctrl {
 public:
  // Registers the window class on first use, so dialog templates can name it; throws when
  // the class cannot be registered.
  CScalerectctrl();
  ~CScalerectctrl();
  CScalerectctrl(const CScalerectctrl&) = delete;
  CScalerectctrl& operator=(const CScalerectctrl&) = delete;

  // Takes over the painting of the control of a dialog.
  void Attach(HWND control);
  void Detach();
  HWND Hwnd() const { return m_hWnd; }
  void Redraw();  // draws the bar now

  int m_nValue = 0;  // percent, written by the owner before a redraw

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Draw(HDC dc);

  HWND m_hWnd = nullptr;
  WNDPROC m_pOldProc = nullptr;
};
