#include "traffic/line_chart_ctrl_win32.h"

#include <string>

#include "ui/subclass_win32.h"

const char kLineChartClass[] = "LINE_CHART_CTRL";

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kScaleRed = RGB(255, 0, 0);
constexpr COLORREF kLabelYellow = RGB(255, 255, 0);
const char kChartProperty[] = "TavrickLineChart";

void RegisterChartClass() {
  WNDCLASSA wc = {};
  wc.style = CS_GLOBALCLASS;
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
  wc.lpszClassName = kLineChartClass;
  RegisterClassA(&wc);  // fails harmlessly when the class exists already
}

void FillBlack(HDC dc, int left, int top, int right, int bottom) {
  RECT rc = {left, top, right, bottom};
  // A brush fill leaves the context's background colour as it is.
  FillRect(dc, &rc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

// A memory image: its bitmap is put back out of the context before either goes.
void FreeImage(HDC& dc, HBITMAP& bitmap, HGDIOBJ& previous) {
  if (dc) {
    SelectObject(dc, previous);
    DeleteDC(dc);
  }
  if (bitmap) DeleteObject(bitmap);
  dc = nullptr;
  bitmap = nullptr;
  previous = nullptr;
}

}  // namespace

CLineChartCtrl::CLineChartCtrl() { RegisterChartClass(); }

CLineChartCtrl::~CLineChartCtrl() {
  Detach();
  FreeChartImage();
  FreeBackImage();
  if (m_hScaleFont) DeleteObject(m_hScaleFont);
  if (m_hScalePen) DeleteObject(m_hScalePen);
}

bool CLineChartCtrl::Attach(HWND control) {
  char cls[32] = {};
  if (!control || !GetClassNameA(control, cls, sizeof cls) || lstrcmpiA(cls, kLineChartClass) != 0) return false;
  Detach();
  m_hWnd = control;
  m_pOldProc = SubclassControl(control, kChartProperty, this, &CLineChartCtrl::ChartProc);
  return true;
}

void CLineChartCtrl::Detach() {
  if (!m_hWnd) return;
  UnsubclassControl(m_hWnd, kChartProperty, m_pOldProc);
  m_hWnd = nullptr;
  m_pOldProc = nullptr;
}

LRESULT CALLBACK CLineChartCtrl::ChartProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<CLineChartCtrl*>(GetPropA(hWnd, kChartProperty));
  if (!self) return DefWindowProcA(hWnd, message, wParam, lParam);
  const WNDPROC old = self->m_pOldProc;
  switch (message) {
    case WM_PAINT:
      self->Paint();
      return 0;
    case WM_NCDESTROY:
      // The window goes: so do the images drawn for its size.
      self->Detach();
      self->FreeChartImage();
      self->FreeBackImage();
      break;
    default:
      break;
  }
  return CallWindowProcA(old, hWnd, message, wParam, lParam);
}

bool CLineChartCtrl::AddSeries(COLORREF color) {
  if (!m_model.AddSeries(static_cast<uint32_t>(color))) return false;
  Reset();
  return true;
}

void CLineChartCtrl::FreeChartImage() { FreeImage(m_dcChart, m_bmChart, m_bmChartOld); }

void CLineChartCtrl::FreeBackImage() { FreeImage(m_dcBack, m_bmBack, m_bmBackOld); }

void CLineChartCtrl::Reset() {
  m_model.MarkFirst();
  FreeChartImage();
  if (!m_hWnd) return;
  GetClientRect(m_hWnd, &m_rcClient);
  m_nWidth = m_rcClient.right - m_rcClient.left;
  m_nHeight = m_rcClient.bottom - m_rcClient.top;
  HDC window = GetDC(m_hWnd);
  m_dcChart = CreateCompatibleDC(window);
  m_bmChart = CreateCompatibleBitmap(window, m_nWidth, m_nHeight);
  ReleaseDC(m_hWnd, window);
  if (!m_dcChart || !m_bmChart) {
    FreeChartImage();
    return;
  }
  m_bmChartOld = SelectObject(m_dcChart, m_bmChart);
  SetBkColor(m_dcChart, kBlack);
  FillBlack(m_dcChart, 0, 0, m_nWidth, m_nHeight);
  InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CLineChartCtrl::Step() {
  if (!m_dcChart || !m_hWnd) {
    m_model.TakeStep(0, 0);  // nothing to draw on; only the first-step mark goes
    return;
  }
  // 1-2: the window shows the image as it was before this step.
  FreeBackImage();
  RECT client;
  GetClientRect(m_hWnd, &client);
  HDC window = GetDC(m_hWnd);
  m_dcBack = CreateCompatibleDC(window);
  m_bmBack = CreateCompatibleBitmap(window, client.right, client.bottom);
  ReleaseDC(m_hWnd, window);
  if (m_dcBack && m_bmBack) {
    m_bmBackOld = SelectObject(m_dcBack, m_bmBack);
    FillBlack(m_dcBack, 0, 0, client.right, client.bottom);
    BitBlt(m_dcBack, 0, 0, m_nWidth, m_nHeight, m_dcChart, 0, 0, SRCCOPY);
  } else {
    FreeBackImage();
  }
  InvalidateRect(m_hWnd, nullptr, FALSE);

  // 3-5: scroll, scale, a black strip for the new segments.
  const int right = m_rcClient.right;
  const int scroll = m_model.nScroll;
  BitBlt(m_dcChart, 0, 0, m_nWidth - scroll, m_nHeight, m_dcChart, scroll, 0, SRCCOPY);
  DrawScale();
  SetBkColor(m_dcChart, kLabelYellow);
  FillBlack(m_dcChart, right - scroll, 0, right, m_nHeight);

  // 6-7: one line per series from its last value to its new one.
  for (const CChartSegment& segment : m_model.TakeStep(right, m_nHeight)) {
    HPEN pen = CreatePen(PS_SOLID, 1, static_cast<COLORREF>(segment.crColor));
    HGDIOBJ old = SelectObject(m_dcChart, pen);
    MoveToEx(m_dcChart, segment.x0, segment.y0, nullptr);
    LineTo(m_dcChart, segment.x1, segment.y1);
    SelectObject(m_dcChart, old);
    DeleteObject(pen);
  }
}

void CLineChartCtrl::DrawScale() {
  if (!m_hScalePen) m_hScalePen = CreatePen(PS_SOLID, 2, kScaleRed);
  if (!m_hScaleFont) {
    HDC screen = GetDC(nullptr);
    const int height = -MulDiv(9, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    m_hScaleFont = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "宋体");
  }
  HGDIOBJ oldPen = SelectObject(m_dcChart, m_hScalePen);
  HGDIOBJ oldFont = SelectObject(m_dcChart, m_hScaleFont);
  MoveToEx(m_dcChart, 1, 0, nullptr);
  LineTo(m_dcChart, 1, m_nHeight);
  // Black digits on yellow, so the labels read on the black image.
  SetTextColor(m_dcChart, kBlack);
  SetBkColor(m_dcChart, kLabelYellow);
  SetBkMode(m_dcChart, OPAQUE);
  for (const CScaleMark& mark : m_model.Scale(m_nHeight)) {
    TextOutA(m_dcChart, 5, mark.nLabelY, mark.strLabel.c_str(), static_cast<int>(mark.strLabel.size()));
    MoveToEx(m_dcChart, 1, mark.nTickY, nullptr);
    LineTo(m_dcChart, 3, mark.nTickY);
  }
  SelectObject(m_dcChart, oldFont);
  SelectObject(m_dcChart, oldPen);
}

void CLineChartCtrl::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hWnd, &ps);
  if (m_dcBack && m_dcChart) {
    RECT client;
    GetClientRect(m_hWnd, &client);
    BitBlt(dc, 0, 0, client.right, client.bottom, m_dcBack, 0, 0, SRCCOPY);
  }
  EndPaint(m_hWnd, &ps);
}
