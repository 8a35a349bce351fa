#pragma once
// The packet list page of the traffic monitor (dialog 129): one row per captured packet that
// the list feeder posts while the monitor is shown, filtered and capped.
//
// The page keeps the rows itself and the list view only shows them (it asks for the texts of
// the rows in sight), and the view catches up with the rows at most ten times a second: a
// list view that inserts and repaints every row of a flood takes the user-interface thread
// whole, and its timers (automatic blocking among them) would wait behind the paints.
#include <vector>

#include "traffic/packet_list.h"
#include "ui/custfrm_win32.h"
#include "ui/list_view_win32.h"

class CWatchDataDlg : public CAutofrm {
 public:
  explicit CWatchDataDlg(HWND parent);
  // Empties the list and numbers the next row 0; with columns, inserts them again.
  void EmptyList(bool columnsToo);
  int RowCount() const { return m_counter.RowCount(); }

 protected:
  BOOL OnInitDialog() override;
  void OnTimer(UINT_PTR id) override;
  void OnDestroy() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  struct CListedPacket {
    int nNumber;
    _CPacketInfo info;
  };

  void InsertColumns();
  void AddPacketRow(const _CPacketInfo& packet);
  void ShowRows();  // brings the view up to the rows
  bool OnDisplayInfo(const NMHDR* header);

  CListView m_list;
  CPacketRowCounter m_counter;
  std::vector<CListedPacket> m_rows;
  bool m_bShowPending = false;
  bool m_bScrollPending = false;
};
