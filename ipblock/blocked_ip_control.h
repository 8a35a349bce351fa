#pragma once
// The blocked-IP window's decisions: the list and its rebuild, the manual block, the releases,
// the automatic blocking settings and the duties of its three timers. The window supplies the
// view; the tables (ip_tables) do the changes, driver first.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "driver/driver_records.h"
#include "ipblock/blocked_list.h"
#include "ui/prompt.h"

class IProfileStore;

namespace ipfiltermsg {
extern const char kPortNotNumber[];     // "port值必须是数字!"
extern const char kAllZero[];           // "ip地址和port不能全为0,请输入IP和port值!"
extern const char kChooseRelease[];     // "请选择要解除的IP!"
extern const char kCountNotNumber[];    // "访问次数必须输入数字"
extern const char kMbNotNumber[];       // "被下载 流量必须输入数字"
extern const char kSaved[];             // "保存完毕!"
// After kSaved when no duration was checked (a label without radio, such as "30分钟", came from
// the file): "未选择屏蔽时间,自动屏蔽时间仍为", the label kept, "。"
extern const char kDurationKept[];
extern const char kDurationKeptEnd[];
}  // namespace ipfiltermsg

// Fields of the window that the decisions enable, focus or read.
enum class BlockedField { kAddress, kPort, kDuration, kAdd, kCount, kMb, kOther };

class IBlockedIpView : public IPrompt {
 public:
  // The list: a rebuild shows all rows afresh (columns included) and, when asked, scrolls
  // the last row into view; the other calls change single rows.
  virtual void ShowRows(const std::vector<CBlockedListRow>& rows, bool scrollToLast) = 0;
  virtual void InsertRow(int at, const CBlockedListRow& row) = 0;
  virtual void DeleteRow(int row) = 0;
  virtual void DeleteAllRows() = 0;
  virtual int SelectedRow() = 0;    // the first selected row, -1 when none
  virtual int SelectionMark() = 0;  // the row last clicked, -1 when none
  virtual void SelectRow(int row) = 0;  // selects and focuses that row alone; -1 selects none
  virtual void FocusList() = 0;

  // Automatic blocking settings.
  virtual void FillDurations(const std::vector<std::string>& labels) = 0;  // the combo, first selected
  virtual std::string CheckedDuration() = 0;                 // caption of the checked radio, "" when none
  virtual void CheckDuration(const std::string& label) = 0;  // the radio with this caption; none when none has it
  virtual std::string CountText() = 0;
  virtual std::string MbText() = 0;
  virtual void SetLimitTexts(const std::string& count, const std::string& mb) = 0;
  virtual bool PingBan() = 0;
  virtual void SetPingBan(bool on) = 0;
  virtual bool AutoScroll() = 0;
  virtual void SetAutoScroll(bool on) = 0;

  // The manual block.
  virtual bool AddressChosen() = 0;  // "指定IP"
  virtual bool PortChosen() = 0;     // "指定PORT"
  virtual std::string AddressText() = 0;  // the address field's dotted text
  virtual std::string PortText() = 0;
  virtual std::string ManualDuration() = 0;  // the combo's label
  virtual void ZeroAddress() = 0;            // the field reads 0.0.0.0
  virtual void ZeroPort() = 0;               // the field reads "0"
  virtual void Enable(BlockedField field, bool enable) = 0;
  virtual void Focus(BlockedField field) = 0;
  virtual void ShowPicture(bool show) = 0;
};

// What the window's duties reach beyond the tables.
struct CBlockedIpServices {
  CSettings* pSettings = nullptr;  // sysice, ping and ipfilterchk settings
  IProfileStore* pStore = nullptr;
  std::function<int(const _CPingRule&)> sendPingRule;
  std::function<void(const std::string&)> dispatchAlert;
  std::function<int64_t()> now;
};

constexpr int kIpFilterTimerCount = 3;
constexpr int kIpFilterTimerSeconds[kIpFilterTimerCount] = {20, 40, 120};
// The period of each timer: kIpFilterTimerSeconds (the remote check's RemoteCommandPeriodMs).
// Only a test build shortens the rebuild and the alert, before start-up; 0 restores them.
unsigned IpFilterTimerMs(int timer);
void SetIpFilterListPeriodsMs(unsigned rebuildMs, unsigned alertMs);

class CBlockedIpControl {
 public:
  CBlockedIpControl(IBlockedIpView& view, CBlockedIpServices services)
      : m_view(view), m_services(std::move(services)) {}

  void Init();              // the window's initialisation (before its timers start)
  void Rebuild();           // the list afresh from the table, selection kept by key
  void ManualBlock();       // "加入", Enter in the address or port field
  void ReleaseSelected();   // "选中IP"
  void ReleaseAll();        // "全部IP"
  void SaveSettings();      // "保存设置", Enter in the access field
  void ManualChoiceChanged();  // "指定IP" or "指定PORT" clicked
  void AutoScrollChanged();    // "自动滚动" clicked
  void RowClicked();
  void EnterPressed(BlockedField field);
  // Timer 0 (20 s): rebuild and ping rule; 1 (40 s): block alert; 2 (120 s): remote commands.
  void OnTimer(int timer);

  // The entry of the row last clicked, which a rebuild selects again.
  struct CSelection {
    bool bAny = false;
    uint32_t dwIp = 0;
    uint32_t dwPort = 0;
  };
  const std::vector<CBlockedListRow>& Rows() const { return m_rows; }
  const CSelection& Selection() const { return m_selection; }

 private:
  void ApplyPing();
  void ListEmptied();

  IBlockedIpView& m_view;
  CBlockedIpServices m_services;
  std::vector<CBlockedListRow> m_rows;  // the list's rows as shown
  CSelection m_selection;
  bool m_bAutoScroll = true;
  int m_nRowsBeforeAdd = 0;
};
