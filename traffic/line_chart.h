#pragma once
// The scrolling strip chart's series and geometry: where each step's line segments and the
// scale's labels and ticks go. The window class (line_chart_ctrl_win32.*) only draws them.
#include <cstdint>
#include <string>
#include <vector>

// One series: a line colour (0x00BBGGRR) and its last two values.
struct CLineChartItem {
  uint32_t crColor = 0;
  uint32_t nValue = 0;
  uint32_t nPrevValue = 0;
};

// One line of a step, from the left edge of the new strip to the right edge.
struct CChartSegment {
  uint32_t crColor;
  int x0, y0, x1, y1;
};

// One division of the scale: its label and where it goes, and the tick's height.
struct CScaleMark {
  std::string strLabel;
  int nLabelY;
  int nTickY;
};

class CLineChartModel {
 public:
  uint32_t nMax = 100;       // value at the top edge; larger values are clipped to it
  uint32_t nGridStep = 10;   // value step between two labels of the scale
  int nScroll = 3;           // pixels the image moves left per step

  bool AddSeries(uint32_t color);  // false when memory runs out
  // Sets a series' value (clipped to nMax) and returns the old one; an index that is not a
  // series changes nothing and returns 0.
  uint32_t SetValue(int index, uint32_t value);
  void RemoveAllSeries() { m_items.clear(); }
  const std::vector<CLineChartItem>& Series() const { return m_items; }

  // The next step starts every line at the bottom edge.
  void MarkFirst() { m_bFirst = true; }
  bool First() const { return m_bFirst; }
  // The segments of one step in an image `right` pixels wide and `height` high; clears the
  // first-step mark.
  std::vector<CChartSegment> TakeStep(int right, int height);
  // The scale's divisions for an image `height` pixels high, bottom first.
  std::vector<CScaleMark> Scale(int height) const;
  // The pixel row of a value: nMax at the top edge, 0 at the bottom edge (one past the image).
  int ValueY(uint32_t value, int height) const;

 private:
  std::vector<CLineChartItem> m_items;
  bool m_bFirst = true;
};
