#pragma once
// The exception window's decisions: its list, the add with its three messages and the delete.
// The window supplies the view; the exception table (ip_tables) does the changes, driver first.
#include <string>
#include <vector>

#include "ipblock/blocked_list.h"
#include "ui/prompt.h"

namespace ipoutermsg {
extern const char kChooseDelete[];  // "请选择要删除的IP!"
}  // namespace ipoutermsg

class IExceptionIpView : public IPrompt {
 public:
  virtual void ShowRows(const std::vector<CExceptionRow>& rows) = 0;
  virtual void InsertRow(int at, const CExceptionRow& row) = 0;
  virtual void DeleteRow(int row) = 0;
  virtual int SelectedRow() = 0;        // the first selected row, -1 when none
  virtual void SelectRow(int row) = 0;  // selects and focuses that row alone; -1 selects none
  virtual void FocusList() = 0;
  virtual std::string AddressText() = 0;  // the address field's dotted text
  virtual void ZeroAddress() = 0;
};

class CExceptionIpControl {
 public:
  explicit CExceptionIpControl(IExceptionIpView& view) : m_view(view) {}

  void Init();    // the list, once: afterwards only this window changes the table
  void Add();     // "加入", Enter in the address field
  void Delete();  // the delete button

  const std::vector<CExceptionRow>& Rows() const { return m_rows; }

 private:
  IExceptionIpView& m_view;
  std::vector<CExceptionRow> m_rows;  // the list's rows as shown
  int m_nRowsBeforeAdd = 0;
};
