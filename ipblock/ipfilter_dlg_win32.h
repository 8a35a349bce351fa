#pragma once
// "被屏蔽IP列表" (dialog 134): the blocked-IP list, the manual block, the releases, the automatic
// blocking settings and the ping ban. A working window: created hidden at every protection
// start, shown and hidden by the main window; its three timers run all the time and carry the
// ping rule, the block alert and the remote command check.
#include "config/profile_store_win32.h"
#include "ipblock/blocked_ip_control.h"
#include "ipblock/ipouter_dlg_win32.h"
#include "ui/list_view_win32.h"
#include "ui/prompt_win32.h"
#include "ui/working_window_win32.h"

class Cipfilterdlg : public CWorkingWindow, private IBlockedIpView {
 public:
  explicit Cipfilterdlg(HWND owner);
  bool PreTranslateMessage(MSG* msg) override;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notifyCode) override;
  void OnTimer(UINT_PTR id) override;
  void OnDestroy() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void ShowOuterDialog();
  BlockedField FieldOf(HWND window) const;

  // IBlockedIpView
  void Show(const std::string& text) override { m_prompt.Show(text); }
  bool Ask(const std::string& text) override { return m_prompt.Ask(text); }
  void ShowRows(const std::vector<CBlockedListRow>& rows, bool scrollToLast) override;
  void InsertRow(int at, const CBlockedListRow& row) override;
  void DeleteRow(int row) override;
  void DeleteAllRows() override;
  int SelectedRow() override { return m_list.Selected(); }
  int SelectionMark() override { return m_list.SelectionMark(); }
  void SelectRow(int row) override { m_list.SelectOnly(row); }
  void FocusList() override { SetFocus(m_list.Hwnd()); }
  void FillDurations(const std::vector<std::string>& labels) override;
  std::string CheckedDuration() override;
  void CheckDuration(const std::string& label) override;
  std::string CountText() override;
  std::string MbText() override;
  void SetLimitTexts(const std::string& count, const std::string& mb) override;
  bool PingBan() override;
  void SetPingBan(bool on) override;
  bool AutoScroll() override;
  void SetAutoScroll(bool on) override;
  bool AddressChosen() override;
  bool PortChosen() override;
  std::string AddressText() override;
  std::string PortText() override;
  std::string ManualDuration() override;
  void ZeroAddress() override;
  void ZeroPort() override;
  void Enable(BlockedField field, bool enable) override;
  void Focus(BlockedField field) override;
  void ShowPicture(bool show) override;

  // The list is virtual (owner data): it asks for the texts of the rows it draws, so 20,000
  // rows cost one count instead of 120,000 texts handed over at every rebuild. The rows are
  // the decisions' own (m_control.Rows()), changed before each call above, not a copy.
  void SetRowCount();
  bool FillCell(NMHDR* header);

  CListView m_list;
  CWin32Prompt m_prompt;
  CWin32ProfileStore m_store;
  CBlockedIpControl m_control;
  DialogPtr<Cipouterdlg> m_pOuterDlg;  // created on the first "例外IP", then shown again
};
