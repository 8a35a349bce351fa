#include "traffic/line_chart.h"

#include <new>

namespace {
constexpr uint32_t kMaxDivisions = 1000;
}  // namespace

bool CLineChartModel::AddSeries(uint32_t color) {
  try {
    CLineChartItem item;
    item.crColor = color;
    m_items.push_back(item);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

uint32_t CLineChartModel::SetValue(int index, uint32_t value) {
  if (index < 0 || static_cast<size_t>(index) >= m_items.size()) return 0;
  CLineChartItem& item = m_items[static_cast<size_t>(index)];
  const uint32_t old = item.nValue;
  item.nPrevValue = item.nValue;
  item.nValue = value < nMax ? value : nMax;
  return old;
}

int CLineChartModel::ValueY(uint32_t value, int height) const {
  if (nMax == 0) return height;  // no range: everything lies on the bottom edge
  const uint32_t v = value < nMax ? value : nMax;  // nMax may have been lowered since
  return static_cast<int>(static_cast<double>(nMax - v) / static_cast<double>(nMax) * height);
}

std::vector<CChartSegment> CLineChartModel::TakeStep(int right, int height) {
  std::vector<CChartSegment> segments;
  segments.reserve(m_items.size());
  for (const CLineChartItem& item : m_items) {
    const int y0 = m_bFirst ? height : ValueY(item.nPrevValue, height);
    segments.push_back({item.crColor, right - nScroll - 1, y0, right - 1, ValueY(item.nValue, height)});
  }
  m_bFirst = false;
  return segments;
}

std::vector<CScaleMark> CLineChartModel::Scale(int height) const {
  std::vector<CScaleMark> marks;
  uint32_t divisions = nGridStep == 0 ? 0 : nMax / nGridStep;
  if (divisions > kMaxDivisions) divisions = kMaxDivisions;  // a step far below the range
  const int spacing = divisions == 0 ? 0 : height / static_cast<int>(divisions);
  for (uint32_t i = 0; i <= divisions; ++i) {
    const int y = height - static_cast<int>(i) * spacing;
    // The bottom label sits just above the edge, the others just above their tick.
    marks.push_back({std::to_string(static_cast<unsigned long long>(i) * nGridStep), i == 0 ? height - 10 : y - 2,
                     y - 1});
  }
  return marks;
}
