#include "ipblock/exception_ip_control.h"

#include "ipblock/ip_outcomes.h"
#include "ipblock/ip_tables.h"

namespace ipoutermsg {
const char kChooseDelete[] = "请选择要删除的IP!";
}  // namespace ipoutermsg

void CExceptionIpControl::Init() {
  m_rows = BuildExceptionRows(g_pIpOuterList);
  m_view.ShowRows(m_rows);
}

void CExceptionIpControl::Add() {
  m_nRowsBeforeAdd = static_cast<int>(m_rows.size());
  const std::string address = m_view.AddressText();
  const AddIpOuterOutcome outcome = AddIpOuter(address);
  if (outcome != AddIpOuterOutcome::kAdded) {
    if (const char* message = MessageOf(outcome)) m_view.Show(message);
    return;
  }
  const CExceptionRow row = MakeExceptionRow(address, m_nRowsBeforeAdd);
  m_rows.insert(m_rows.begin() + m_nRowsBeforeAdd, row);
  m_view.InsertRow(m_nRowsBeforeAdd, row);
  m_view.ZeroAddress();
}

void CExceptionIpControl::Delete() {
  const int selected = m_view.SelectedRow();
  if (selected < 0 || selected >= static_cast<int>(m_rows.size())) {
    m_view.Show(ipoutermsg::kChooseDelete);
    return;
  }
  if (RemoveIpOuter(m_rows[selected].dwIp) != RemoveIpOuterOutcome::kRemoved) return;  // nothing shown
  m_rows.erase(m_rows.begin() + selected);
  m_view.DeleteRow(selected);
  m_view.FocusList();
  m_view.SelectRow(selected > 0 ? selected - 1 : -1);
}
