#include "resources/scale_rect_ctrl_win32.h"

#include <stdexcept>

#include "ui/dialog_win32.h"
#include "ui/subclass_win32.h"

const char kScaleRectClass[] = "MYSCALERECTCTRL";

namespace {

const char kSelfProperty[] = "CScalerectctrl";

void Fill(HDC dc, const RECT& rect, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

}  // namespace

CScalerectctrl::CScalerectctrl() {
  WNDCLASSA existing;
  if (GetClassInfoA(ResourceModule(), kScaleRectClass, &existing)) return;
  WNDCLASSA windowClass = {};
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = ResourceModule();
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kScaleRectClass;
  if (!RegisterClassA(&windowClass)) throw std::runtime_error("MYSCALERECTCTRL");
}

CScalerectctrl::~CScalerectctrl() { Detach(); }

void CScalerectctrl::Attach(HWND control) {
  Detach();
  if (!control) return;
  m_hWnd = control;
  m_pOldProc = SubclassControl(m_hWnd, kSelfProperty, this, &CScalerectctrl::WindowProc);
}

void CScalerectctrl::Detach() {
  if (!m_hWnd) return;
  UnsubclassControl(m_hWnd, kSelfProperty, m_pOldProc);
  m_hWnd = nullptr;
  m_pOldProc = nullptr;
}

void CScalerectctrl::Redraw() {
  if (!m_hWnd) return;
  HDC dc = GetDC(m_hWnd);
  Draw(dc);
  ReleaseDC(m_hWnd, dc);
}

void CScalerectctrl::Draw(HDC dc) {
  RECT client;
  GetClientRect(m_hWnd, &client);
  Fill(dc, client, RGB(0, 0, 0));
  const int height = client.bottom;
  RECT bar = {0, height - height * m_nValue / 100, client.right, height};
  Fill(dc, bar, RGB(0, 255, 0));
}

LRESULT CALLBACK CScalerectctrl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<CScalerectctrl*>(GetPropA(window, kSelfProperty));
  if (!self) return DefWindowProcA(window, message, wParam, lParam);
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    self->Draw(dc);
    EndPaint(window, &paint);
    return 0;
  }
  const WNDPROC old = self->m_pOldProc;
  if (message == WM_NCDESTROY) self->Detach();
  return CallWindowProcA(old, window, message, wParam, lParam);
}
