#pragma once
// Proportional layout: registered controls move and grow by whole-percent shares of the
// change in the dialog's client size. Integer arithmetic, truncated toward zero per resize,
// so rounding errors of successive resizes add up exactly as they always have.
#include <vector>

struct CAnchor {
  int nId;
  int nLeft;    // % of the width change applied to the left edge
  int nTop;     // % of the height change applied to the top edge
  int nWidth;   // % of the width change added to the width
  int nHeight;  // % of the height change added to the height
};

struct CControlRect {
  int left, top, right, bottom;
};

constexpr int kSizeMinimized = 1;  // SIZE_MINIMIZED

CControlRect ApplyAnchor(const CAnchor& anchor, const CControlRect& rc, int dx, int dy);

class CAnchorLayout {
 public:
  void Reset() { m_anchors.clear(); }
  // Registers a control; the current client size becomes the reference.
  void Add(const CAnchor& anchor, int clientWidth, int clientHeight);
  // The change in size to apply for this resize; updates the reference unless minimised.
  void Resize(int sizeType, int clientWidth, int clientHeight, int* dx, int* dy);
  const std::vector<CAnchor>& Anchors() const { return m_anchors; }

 private:
  std::vector<CAnchor> m_anchors;
  int m_nClientWidth = 0;
  int m_nClientHeight = 0;
};
