#pragma once
// The scrolling strip chart as a window: a custom control of the class "LINE_CHART_CTRL" in a
// dialog template, attached to this object by its owner. Each step draws into an off-screen
// image; the window's paint only copies the image kept from before the step.
#include <windows.h>

#include <cstdint>

#include "traffic/line_chart.h"

extern const char kLineChartClass[];  // "LINE_CHART_CTRL"

class CLineChartCtrl {
 public:
  CLineChartCtrl();  // registers the window class (once; a second registration is harmless)
  ~CLineChartCtrl();
  CLineChartCtrl(const CLineChartCtrl&) = delete;
  CLineChartCtrl& operator=(const CLineChartCtrl&) = delete;

  // Takes over the control's painting; false when it is no chart control.
  bool Attach(HWND control);
  HWND Hwnd() const { return m_hWnd; }

  void SetRange(uint32_t max) { m_model.nMax = max; }
  void SetGridStep(uint32_t step) { m_model.nGridStep = step; }
  void SetScroll(int pixels) { m_model.nScroll = pixels; }
  bool AddSeries(COLORREF color);  // then Reset
  uint32_t SetValue(int index, uint32_t value) { return m_model.SetValue(index, value); }
  void RemoveAllSeries() { m_model.RemoveAllSeries(); }
  const CLineChartModel& Model() const { return m_model; }

  // A black image of the current client size; the next step starts from the bottom edge.
  void Reset();
  // Shows the image as it stands, then scrolls it and draws the next segment of each series.
  void Step();

 private:
  static LRESULT CALLBACK ChartProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  void Paint();
  void DrawScale();
  void Detach();
  void FreeChartImage();
  void FreeBackImage();

  CLineChartModel m_model;
  HWND m_hWnd = nullptr;
  WNDPROC m_pOldProc = nullptr;
  HDC m_dcChart = nullptr;
  HBITMAP m_bmChart = nullptr;
  HGDIOBJ m_bmChartOld = nullptr;
  HDC m_dcBack = nullptr;
  HBITMAP m_bmBack = nullptr;
  HGDIOBJ m_bmBackOld = nullptr;
  RECT m_rcClient = {};
  int m_nWidth = 0;
  int m_nHeight = 0;
  HFONT m_hScaleFont = nullptr;
  HPEN m_hScalePen = nullptr;
};
