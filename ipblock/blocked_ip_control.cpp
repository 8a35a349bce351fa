#include "ipblock/blocked_ip_control.h"

#include "common/crt_text.h"
#include "ipblock/flood_blocking.h"
#include "ipblock/ip_outcomes.h"
#include "ipblock/ip_tables.h"
#include "ipblock/remote_command_hook.h"

namespace ipfiltermsg {
const char kPortNotNumber[] = "port值必须是数字!";
const char kAllZero[] = "ip地址和port不能全为0,请输入IP和port值!";
const char kChooseRelease[] = "请选择要解除的IP!";
const char kCountNotNumber[] = "访问次数必须输入数字";
const char kMbNotNumber[] = "被下载 流量必须输入数字";
const char kSaved[] = "保存完毕!";
const char kDurationKept[] = "未选择屏蔽时间,自动屏蔽时间仍为";
const char kDurationKeptEnd[] = "。";
}  // namespace ipfiltermsg

namespace {
constexpr int kHighestPort = 65535;
}  // namespace

void CBlockedIpControl::Init() {
  m_selection = CSelection();
  m_bAutoScroll = true;
  Rebuild();
  std::vector<std::string> labels;
  for (const CBlockTime& t : g_BlockTimes) labels.push_back(t.szLabel);
  m_view.FillDurations(labels);
  const CSettings& settings = *m_services.pSettings;
  m_view.CheckDuration(settings.sysicetimer);
  m_view.SetLimitTexts(std::to_string(settings.sysiceipcount),
                       std::to_string(static_cast<unsigned>(settings.sysiceipmb)));
  m_view.SetPingBan(settings.pingin);
  // Whatever is listed when protection starts (the loaded list among it) is no flood to report.
  MarkRowsReported(AlertRows(m_rows));
  m_view.ZeroAddress();
  m_view.ZeroPort();
  for (BlockedField f : {BlockedField::kAddress, BlockedField::kPort, BlockedField::kDuration, BlockedField::kAdd})
    m_view.Enable(f, false);
  m_view.ShowPicture(false);
  m_view.SetAutoScroll(true);
}

void CBlockedIpControl::Rebuild() {
  m_rows = BuildBlockedRows(g_pIpFilterList);
  g_strFilterCount = std::to_string(g_pIpFilterList.size());
  m_view.ShowRows(m_rows, m_bAutoScroll);
  m_view.SelectRow(m_selection.bAny ? FindRowOf(m_rows, m_selection.dwIp, m_selection.dwPort) : -1);
  RebaseReportedRows(AlertRows(m_rows));
}

void CBlockedIpControl::ManualBlock() {
  m_nRowsBeforeAdd = static_cast<int>(m_rows.size());
  const std::string address = m_view.AddressText();
  const std::string portText = m_view.PortText();
  const std::string label = m_view.ManualDuration();
  int port = 0;
  // A port past 65535 would become another port in the record: refused like any non-number.
  if (!ParseDigits(portText, &port) || port > kHighestPort) {
    m_view.Show(ipfiltermsg::kPortNotNumber);
    m_view.Focus(BlockedField::kPort);
    return;
  }
  if (address == "0.0.0.0" && port == 0) {
    m_view.Show(ipfiltermsg::kAllZero);
    m_view.Focus(BlockedField::kAddress);
    return;
  }
  // The decimal value, so "0080" is port 80 in the list, its key and its release as well.
  const BlockIpOutcome outcome = BlockIp(address, std::to_string(port), label, 1);
  if (outcome != BlockIpOutcome::kAdded) {
    m_view.Show(MessageOf(outcome));
    return;
  }
  const CBlockedListRow row = MakeBlockedRow(*g_pIpFilterList.Entries().back(), m_nRowsBeforeAdd);
  m_rows.insert(m_rows.begin() + m_nRowsBeforeAdd, row);
  m_view.InsertRow(m_nRowsBeforeAdd, row);
  m_view.ZeroAddress();
  m_view.ZeroPort();
}

void CBlockedIpControl::ReleaseSelected() {
  const int selected = m_view.SelectedRow();
  if (selected < 0 || selected >= static_cast<int>(m_rows.size())) {
    m_view.Show(ipfiltermsg::kChooseRelease);
    return;
  }
  const CBlockedListRow row = m_rows[selected];
  if (!ReleaseIpFilter(row.dwIp, row.dwPort)) {
    m_view.Show(ReleaseMessage(false));
    return;
  }
  m_rows.erase(m_rows.begin() + selected);
  m_view.DeleteRow(selected);
  m_view.FocusList();
  m_view.SelectRow(selected > 0 ? selected - 1 : -1);
  // The rows left keep what the alert knows of them: an automatic block shown but not yet
  // alerted on must still be, so a release never marks a row as reported.
  RebaseReportedRows(AlertRows(m_rows));
}

void CBlockedIpControl::ListEmptied() {
  m_rows.clear();
  m_view.DeleteAllRows();
  MarkRowsReported({});
}

void CBlockedIpControl::ReleaseAll() {
  const bool released = ReleaseAllIpFilters();
  if (released) ListEmptied();
  m_view.Show(ReleaseAllMessage(released));
}

void CBlockedIpControl::SaveSettings() {
  int count = 0, mb = 0;
  if (!ParseDigits(m_view.CountText(), &count)) {
    m_view.Show(ipfiltermsg::kCountNotNumber);
    m_view.Focus(BlockedField::kCount);
    return;
  }
  if (!ParseDigits(m_view.MbText(), &mb)) {
    m_view.Show(ipfiltermsg::kMbNotNumber);
    m_view.Focus(BlockedField::kMb);
    return;
  }
  CSettings& settings = *m_services.pSettings;
  settings.pingin = settings.pingout = m_view.PingBan();
  // No radio checked (the file named a label none of them has): the duration stays as it was
  // instead of becoming an empty label, which would make every automatic block last a second.
  const std::string checked = m_view.CheckedDuration();
  const std::string label = checked.empty() ? settings.sysicetimer : checked;
  SaveBlockSettings(settings, label, count, mb, *m_services.pStore);
  m_view.Show(checked.empty() ? std::string(ipfiltermsg::kSaved) + ipfiltermsg::kDurationKept + label +
                                    ipfiltermsg::kDurationKeptEnd
                              : std::string(ipfiltermsg::kSaved));
  ApplyPing();
}

void CBlockedIpControl::ManualChoiceChanged() {
  const bool address = m_view.AddressChosen(), port = m_view.PortChosen();
  m_view.Enable(BlockedField::kAddress, address);
  if (!address) m_view.ZeroAddress();
  m_view.Enable(BlockedField::kPort, port);
  if (!port) m_view.ZeroPort();
  m_view.Enable(BlockedField::kDuration, address || port);
  m_view.Enable(BlockedField::kAdd, address || port);
  m_view.ShowPicture(address && port);
}

void CBlockedIpControl::AutoScrollChanged() { m_bAutoScroll = m_view.AutoScroll(); }

void CBlockedIpControl::RowClicked() {
  const int mark = m_view.SelectionMark();
  if (mark >= 0 && mark < static_cast<int>(m_rows.size()))
    m_selection = {true, m_rows[mark].dwIp, m_rows[mark].dwPort};
}

void CBlockedIpControl::EnterPressed(BlockedField field) {
  if (field == BlockedField::kAddress || field == BlockedField::kPort) ManualBlock();
  else if (field == BlockedField::kCount) SaveSettings();
}

void CBlockedIpControl::ApplyPing() {
  ApplyPingPolicy(*m_services.pSettings, g_saLocalIp, m_services.sendPingRule, *m_services.pStore);
}

void CBlockedIpControl::OnTimer(int timer) {
  switch (timer) {
    case 0:
      Rebuild();
      ApplyPing();
      break;
    case 1:
      ReportBlockedIps(AlertRows(m_rows), m_services.now(), m_services.pSettings->ipfilterchk,
                       m_services.dispatchAlert);
      break;
    case 2:
      if (RunRemoteCommandCheck()) ListEmptied();
      break;
    default:
      break;
  }
}

namespace {
unsigned g_nListPeriodOverrideMs[2] = {0, 0};  // rebuild, alert
}  // namespace

unsigned IpFilterTimerMs(int timer) {
  if (timer == 2) return RemoteCommandPeriodMs();
  if (timer < 0 || timer >= kIpFilterTimerCount) return 0;
  if (timer < 2 && g_nListPeriodOverrideMs[timer] > 0) return g_nListPeriodOverrideMs[timer];
  return static_cast<unsigned>(kIpFilterTimerSeconds[timer]) * 1000;
}

void SetIpFilterListPeriodsMs(unsigned rebuildMs, unsigned alertMs) {
  g_nListPeriodOverrideMs[0] = rebuildMs;
  g_nListPeriodOverrideMs[1] = alertMs;
}
