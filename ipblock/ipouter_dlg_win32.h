#pragma once
// "添加例外IP" (dialog 139): the exception list, add and delete. The blocked-IP window creates
// it once and shows it again on every later request; closing it only hides it.
#include "ipblock/exception_ip_control.h"
#include "ui/list_view_win32.h"
#include "ui/prompt_win32.h"
#include "ui/working_window_win32.h"

class Cipouterdlg : public CWorkingWindow, private IExceptionIpView {
 public:
  explicit Cipouterdlg(HWND parent);
  bool PreTranslateMessage(MSG* msg) override;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notifyCode) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  // IExceptionIpView
  void Show(const std::string& text) override { m_prompt.Show(text); }
  bool Ask(const std::string& text) override { return m_prompt.Ask(text); }
  void ShowRows(const std::vector<CExceptionRow>& rows) override;
  void InsertRow(int at, const CExceptionRow& row) override { m_list.InsertRow(at, row.Cells()); }
  void DeleteRow(int row) override { m_list.DeleteRow(row); }
  int SelectedRow() override { return m_list.Selected(); }
  void SelectRow(int row) override { m_list.SelectOnly(row); }
  void FocusList() override { SetFocus(m_list.Hwnd()); }
  std::string AddressText() override;
  void ZeroAddress() override;

  CListView m_list;
  CWin32Prompt m_prompt;
  CExceptionIpControl m_control{*this};
};

// The dotted text of an IP address control ("0" for an empty field) and its reset to 0.0.0.0.
std::string IpControlText(HWND control);
void ZeroIpControl(HWND control);
