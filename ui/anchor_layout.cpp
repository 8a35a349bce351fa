#include "ui/anchor_layout.h"

CControlRect ApplyAnchor(const CAnchor& a, const CControlRect& rc, int dx, int dy) {
  const int left = rc.left + a.nLeft * dx / 100;
  const int top = rc.top + a.nTop * dy / 100;
  const int width = (rc.right - rc.left) + a.nWidth * dx / 100;
  const int height = (rc.bottom - rc.top) + a.nHeight * dy / 100;
  return {left, top, left + width, top + height};
}

void CAnchorLayout::Add(const CAnchor& anchor, int clientWidth, int clientHeight) {
  m_nClientWidth = clientWidth;
  m_nClientHeight = clientHeight;
  m_anchors.push_back(anchor);
}

void CAnchorLayout::Resize(int sizeType, int clientWidth, int clientHeight, int* dx, int* dy) {
  if (sizeType == kSizeMinimized) {
    *dx = *dy = 0;
    return;
  }
  *dx = clientWidth - m_nClientWidth;
  *dy = clientHeight - m_nClientHeight;
  m_nClientWidth = clientWidth;
  m_nClientHeight = clientHeight;
}
