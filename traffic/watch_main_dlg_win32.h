#pragma once
// The traffic monitor window "监视数据" (dialog 131): filters, pause, cache refresh, display
// delay and a tab control holding the packet list page and the chart page. A working window:
// created hidden at protection start, closing only hides it.
#include "traffic/watch_data_dlg_win32.h"
#include "traffic/watch_draw_dlg_win32.h"
#include "ui/custfrm_win32.h"

class CWatchMainDlg : public CAutofrm {
 public:
  explicit CWatchMainDlg(HWND owner);
  CWatchDataDlg* DataPage() const { return m_pDataPage.get(); }
  CWatachDrawDlg* DrawPage() const { return m_pDrawPage.get(); }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notifyCode) override;
  void OnDestroy() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void PlacePages();
  void ShowPage(int tab);
  void ShowPauseFace();
  void OnShown(bool shown);

  DialogPtr<CWatchDataDlg> m_pDataPage;
  DialogPtr<CWatachDrawDlg> m_pDrawPage;
};
