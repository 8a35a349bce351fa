#pragma once
// The two base dialogs of every window: common font, small icon, placement beside the owner,
// no ending by keyboard; CAutofrm adds proportional layout of registered controls.
#include "ui/anchor_layout.h"
#include "ui/dialog_win32.h"

// Icon resource every dialog shows as its small icon.
extern int g_nSmallIconId;

// The common font ("宋体", height 12), created once for the process.
HFONT CommonDialogFont();

class Ccustfrm : public CDialog {
 public:
  using CDialog::CDialog;
  bool PreTranslateMessage(MSG* msg) override;

 protected:
  BOOL OnInitDialog() override;
};

class CAutofrm : public Ccustfrm {
 public:
  using Ccustfrm::Ccustfrm;
  // The last flag has no effect; it is kept for the registration calls' shape.
  void AddAnchor(int id, int leftPct, int topPct, int widthPct, int heightPct, bool unused = false);
  // The layout step; dialogs call it from their size handling.
  void OnSize(int sizeType, int clientWidth, int clientHeight);
  const CAnchorLayout& Layout() const { return m_layout; }

 protected:
  BOOL OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  CAnchorLayout m_layout;
  int m_nWindowWidth = 0;
  int m_nWindowHeight = 0;
};
