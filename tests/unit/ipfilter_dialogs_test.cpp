// The decisions of the blocked-IP and exception windows over a view that records what the
// window would show, the real tables on a fake driver and an in-memory configuration file.
#include <gtest/gtest.h>
#include <iconv.h>

#include <fstream>
#include <iterator>
#include <map>

#include "common/clock.h"
#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/profile_store.h"
#include "driver/driver_link.h"
#include "ipblock/blocked_ip_control.h"
#include "ipblock/exception_ip_control.h"
#include "ipblock/flood_blocking.h"
#include "ipblock/ip_tables.h"
#include "ipblock/remote_command_hook.h"
#include "table_device_fake.h"

namespace {

// The resource file is UTF-8; the program's texts are GBK.
std::string Gbk(const std::string& utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  std::string in = utf8, out(utf8.size() * 2 + 4, '\0');
  char* from = &in[0];
  char* to = &out[0];
  size_t left = in.size(), room = out.size();
  const size_t done = iconv(cd, &from, &left, &to, &room);
  iconv_close(cd);
  return done == static_cast<size_t>(-1) ? std::string() : out.substr(0, out.size() - room);
}

const char kLongRefusal[] = "添加失败!导致原因:此IP已在例外中,已经屏蔽IP,加入IP是本地IP。";

class CFakeBlockedView : public IBlockedIpView {
 public:
  std::vector<CBlockedListRow> rows;
  int selected = -1, mark = -1, rebuilds = 0;
  bool listFocused = false, scrolledToLast = false;
  std::vector<std::string> durations;
  const std::vector<std::string> radios = {"1分钟", "5分钟", "10分钟", "1小时", "24小时", "1个月", "永远"};
  int checkedRadio = 2;
  std::string count, mb, address = "1.1.1.1", port = "77", duration = "1分钟";
  bool ping = false, autoScroll = false, addressChosen = false, portChosen = false, picture = true;
  std::map<BlockedField, bool> enabled;
  BlockedField focused = BlockedField::kOther;
  std::vector<std::string> shown;

  void Show(const std::string& text) override { shown.push_back(text); }
  bool Ask(const std::string&) override { return false; }
  void ShowRows(const std::vector<CBlockedListRow>& r, bool scroll) override {
    rows = r;
    selected = -1;
    scrolledToLast = scroll;
    ++rebuilds;
  }
  void InsertRow(int at, const CBlockedListRow& row) override { rows.insert(rows.begin() + at, row); }
  void DeleteRow(int row) override {
    rows.erase(rows.begin() + row);
    if (selected == row) selected = -1;
  }
  void DeleteAllRows() override { rows.clear(), selected = -1; }
  int SelectedRow() override { return selected; }
  int SelectionMark() override { return mark; }
  void SelectRow(int row) override { selected = row; }
  void FocusList() override { listFocused = true; }
  void FillDurations(const std::vector<std::string>& labels) override {
    durations = labels;
    duration = labels.front();
  }
  std::string CheckedDuration() override { return checkedRadio < 0 ? "" : radios[checkedRadio]; }
  void CheckDuration(const std::string& label) override {
    checkedRadio = -1;
    for (size_t i = 0; i < radios.size(); ++i)
      if (radios[i] == label) checkedRadio = static_cast<int>(i);
  }
  std::string CountText() override { return count; }
  std::string MbText() override { return mb; }
  void SetLimitTexts(const std::string& c, const std::string& m) override { count = c, mb = m; }
  bool PingBan() override { return ping; }
  void SetPingBan(bool on) override { ping = on; }
  bool AutoScroll() override { return autoScroll; }
  void SetAutoScroll(bool on) override { autoScroll = on; }
  bool AddressChosen() override { return addressChosen; }
  bool PortChosen() override { return portChosen; }
  std::string AddressText() override { return address; }
  std::string PortText() override { return port; }
  std::string ManualDuration() override { return duration; }
  void ZeroAddress() override { address = "0.0.0.0"; }
  void ZeroPort() override { port = "0"; }
  void Enable(BlockedField field, bool on) override { enabled[field] = on; }
  void Focus(BlockedField field) override { focused = field; }
  void ShowPicture(bool show) override { picture = show; }

  std::vector<std::string> Column(int c) const {
    std::vector<std::string> texts;
    for (const auto& r : rows) texts.push_back(r.Cells()[c]);
    return texts;
  }
};

class CFakeExceptionView : public IExceptionIpView {
 public:
  std::vector<CExceptionRow> rows;
  int selected = -1;
  bool listFocused = false;
  std::string address;
  std::vector<std::string> shown;

  void Show(const std::string& text) override { shown.push_back(text); }
  bool Ask(const std::string&) override { return false; }
  void ShowRows(const std::vector<CExceptionRow>& r) override { rows = r; }
  void InsertRow(int at, const CExceptionRow& row) override { rows.insert(rows.begin() + at, row); }
  void DeleteRow(int row) override {
    rows.erase(rows.begin() + row);
    if (selected == row) selected = -1;
  }
  int SelectedRow() override { return selected; }
  void SelectRow(int row) override { selected = row; }
  void FocusList() override { listFocused = true; }
  std::string AddressText() override { return address; }
  void ZeroAddress() override { address = "0.0.0.0"; }
};

class IpFilterDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    AttachFakeTables(m_device, m_store, m_clock);
    g_bDriverHonoursExact = true;  // as the stand-in says: automatic entries stay exact
    g_saLocalIp = {"192.0.2.10", "127.0.0.1"};
    g_dwServiceIp = InetAddr("198.51.100.1");
    g_nReportedRows = 0;
    g_ReportedSerials.clear();
    g_strBlockedIps.clear();
    g_bBlockAlertHeld = false;
    g_tLastBlockAlert = 0;
    g_strFilterCount = "0";
    m_settings = CSettings();
    SetRemoteCommandCheck(nullptr);
  }
  void TearDown() override {
    SetRemoteCommandCheck(nullptr);
    g_bDriverHonoursExact = false;
    g_saLocalIp.clear();
    g_dwServiceIp = 100000;
    DetachFakeTables();
  }
  void Load(const std::string& filters) {
    m_store.Put(kConfigFile, "ipfilter", "ipfilterlst", filters);
    CSettings loaded;
    LoadConfiguration(m_store, m_clock, loaded, g_pIpFilterList, g_pIpOuterList);
  }
  CBlockedIpServices Services() {
    CBlockedIpServices s;
    s.pSettings = &m_settings;
    s.pStore = &m_store;
    s.sendPingRule = [this](const _CPingRule& rule) {
      m_pings.push_back(rule);
      return 1;
    };
    s.dispatchAlert = [this](const std::string& text) { m_alerts.push_back(text); };
    s.now = [this] { return m_clock.Now(); };
    return s;
  }
  // The file as the next once-a-second save of the blocked list leaves it.
  std::string Saved(const char* section, const char* key) {
    FlushIpFilterList();
    return ReadIni(m_store, kConfigFile, section, key);
  }

  CTableDevice m_device;
  CMemoryProfileStore m_store;
  CManualClock m_clock{1700000000};
  CSettings m_settings;
  std::vector<_CPingRule> m_pings;
  std::vector<std::string> m_alerts;
  CFakeBlockedView m_view;
  CBlockedIpControl m_control{m_view, Services()};
};

TEST_F(IpFilterDialogs, StartShowsTheTableTheSettingsAndTheManualFieldsOff) {
  Load("10.0.0.0|0|永远,1.2.3.4|80|5分钟");
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("61.0.0.0", "0", "5分钟", 0));
  m_settings.sysicetimer = "30分钟";  // possible only through the file: no radio has it
  m_settings.sysiceipcount = 300;
  m_settings.sysiceipmb = -1;  // shown as "%u"
  m_settings.pingin = true;
  m_control.Init();

  EXPECT_EQ((std::vector<std::string>{"0", "1", "2"}), m_view.Column(0));
  EXPECT_EQ((std::vector<std::string>{"10.*.*.*", "1.2.3.4", "61.0.0.0"}), m_view.Column(1));  // automatic: exact
  EXPECT_EQ((std::vector<std::string>{"*", "80", "*"}), m_view.Column(2));
  EXPECT_EQ((std::vector<std::string>{"永远", "5分钟", "5分钟"}), m_view.Column(3));
  EXPECT_EQ((std::vector<std::string>{"10.0.0.00", "1.2.3.480", "61.0.0.00"}), m_view.Column(4));
  EXPECT_EQ((std::vector<std::string>{"1", "1", "0"}), m_view.Column(5));
  EXPECT_TRUE(m_view.scrolledToLast);
  EXPECT_EQ(-1, m_view.selected);
  EXPECT_EQ("3", g_strFilterCount);
  EXPECT_EQ(3, g_nReportedRows);
  EXPECT_EQ((std::vector<std::string>{"1分钟", "5分钟", "10分钟", "30分钟", "1小时", "24小时", "1个月", "永远"}),
            m_view.durations);
  EXPECT_EQ(-1, m_view.checkedRadio);
  EXPECT_EQ("300", m_view.count);
  EXPECT_EQ("4294967295", m_view.mb);
  EXPECT_TRUE(m_view.ping);
  EXPECT_TRUE(m_view.autoScroll);
  EXPECT_EQ("0.0.0.0", m_view.address);
  EXPECT_EQ("0", m_view.port);
  for (BlockedField f : {BlockedField::kAddress, BlockedField::kPort, BlockedField::kDuration, BlockedField::kAdd})
    EXPECT_FALSE(m_view.enabled[f]);
  EXPECT_FALSE(m_view.picture);

  // Saving with no radio checked keeps the duration the file named, and says so.
  m_view.count = "100";
  m_view.mb = "0";
  m_control.SaveSettings();
  EXPECT_EQ("30分钟", Saved("sysice", "sysicetimer"));
  EXPECT_EQ("30分钟", m_settings.sysicetimer);
  EXPECT_EQ(1800, BlockSeconds(m_settings.sysicetimer));
  EXPECT_EQ("100", Saved("sysice", "sysiceipcount"));
  EXPECT_EQ("保存完毕!未选择屏蔽时间,自动屏蔽时间仍为30分钟。", m_view.shown.back());
}

// The window saves the caption of the checked radio as the duration: each caption in the
// resource file must be one of the duration labels, with its own length of time.
TEST(BlockedIpWindowResource, EachDurationRadioCaptionIsADurationLabel) {
  std::ifstream in(std::string(TAVRICK_TEST_DATA) + "/../../app/tavrick.rc", std::ios::binary);
  ASSERT_TRUE(in.is_open());
  const std::string rc((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::pair<const char*, int> radios[] = {{"IDC_IPF_1MIN", 60},      {"IDC_IPF_5MIN", 300},
                                                {"IDC_IPF_10MIN", 600},    {"IDC_IPF_1HOUR", 3600},
                                                {"IDC_IPF_24HOURS", 86400}, {"IDC_IPF_1MONTH", 2592000},
                                                {"IDC_IPF_FOREVER", 0}};
  for (const auto& radio : radios) {
    const size_t id = rc.find(std::string("\", ") + radio.first + ",");
    ASSERT_NE(std::string::npos, id) << radio.first;
    const size_t open = rc.rfind('"', rc.rfind('"', id) - 1);
    const std::string caption = Gbk(rc.substr(open + 1, id - open - 1));
    bool listed = false;
    for (const CBlockTime& t : g_BlockTimes) listed = listed || caption == t.szLabel;
    EXPECT_TRUE(listed) << radio.first;
    EXPECT_EQ(radio.second, BlockSeconds(caption)) << radio.first;
  }
}

TEST_F(IpFilterDialogs, ManualFieldsFollowTheTwoBoxes) {
  m_control.Init();
  struct Case {
    bool ip, port, picture;
  };
  for (const Case& c : {Case{false, true, false}, Case{true, true, true}, Case{true, false, false},
                        Case{false, false, false}}) {
    m_view.addressChosen = c.ip;
    m_view.portChosen = c.port;
    m_view.address = "9.9.9.9";
    m_view.port = "99";
    m_control.ManualChoiceChanged();
    EXPECT_EQ(c.ip, m_view.enabled[BlockedField::kAddress]);
    EXPECT_EQ(c.port, m_view.enabled[BlockedField::kPort]);
    EXPECT_EQ(c.ip || c.port, m_view.enabled[BlockedField::kDuration]);
    EXPECT_EQ(c.ip || c.port, m_view.enabled[BlockedField::kAdd]);
    EXPECT_EQ(c.picture, m_view.picture);
    EXPECT_EQ(c.ip ? "9.9.9.9" : "0.0.0.0", m_view.address);
    EXPECT_EQ(c.port ? "99" : "0", m_view.port);
  }
}

TEST_F(IpFilterDialogs, ManualBlockChecksThenAddsTheRowAtOnce) {
  Load("10.0.0.0|0|永远");
  m_control.Init();
  const int requests = m_device.requests;
  for (const char* bad : {"8a", "", "70000", "-1"}) {
    m_view.port = bad;
    m_view.focused = BlockedField::kOther;
    m_control.ManualBlock();
    ASSERT_EQ(ipfiltermsg::kPortNotNumber, m_view.shown.back()) << bad;
    EXPECT_EQ(BlockedField::kPort, m_view.focused);
  }
  m_view.address = "0.0.0.0";
  m_view.port = "00";
  m_control.ManualBlock();
  EXPECT_EQ(ipfiltermsg::kAllZero, m_view.shown.back());
  EXPECT_EQ(BlockedField::kAddress, m_view.focused);
  EXPECT_EQ(requests, m_device.requests);

  // Only "指定PORT": every address on that port.
  m_view.port = "3389";
  m_view.duration = "1小时";
  m_control.ManualBlock();
  ASSERT_EQ(2u, m_view.rows.size());
  EXPECT_EQ((std::vector<std::string>{"1", "*.*.*.*", "3389", "1小时", "0.0.0.03389", "1"}), m_view.rows[1].Cells());
  EXPECT_EQ("0.0.0.0", m_view.address);
  EXPECT_EQ("0", m_view.port);
  EXPECT_EQ("10.0.0.0|0|永远,0.0.0.0|3389|1小时", Saved("ipfilter", "ipfilterlst"));

  // A leading 0 is no wildcard: the list, the key and the release see port 80.
  m_view.address = "0.1.2.3";
  m_view.port = "0080";
  m_control.ManualBlock();
  ASSERT_EQ(3u, m_view.rows.size());
  EXPECT_EQ("*.1.2.3", m_view.rows[2].strIp);
  EXPECT_EQ("80", m_view.rows[2].strPort);
  EXPECT_EQ("0.1.2.380", m_view.rows[2].strKey);
  m_view.selected = 2;
  m_control.ReleaseSelected();
  EXPECT_EQ(2u, g_pIpFilterList.size());

  const size_t messages = m_view.shown.size();
  for (const char* refused : {"192.0.2.10", "198.51.100.1", "0.0.0.0"}) {
    m_view.address = refused;
    m_view.port = refused[0] == '0' ? "3389" : "0";  // the port-only block is there already
    m_control.ManualBlock();
    EXPECT_EQ(kLongRefusal, m_view.shown.back()) << refused;
    EXPECT_EQ(refused, m_view.address);  // a refusal leaves the fields as they were
  }
  EXPECT_EQ(messages + 3, m_view.shown.size());
  m_device.refuse = true;
  m_view.address = "5.5.5.5";
  m_control.ManualBlock();
  EXPECT_EQ("添加失败!", m_view.shown.back());
  EXPECT_EQ(2u, m_view.rows.size());
}

TEST_F(IpFilterDialogs, ReleasesMoveTheSelectionUpAndKeepWhatTheAlertSawOfTheRest) {
  Load("1.1.1.1|0|永远,2.2.2.2|0|永远,3.3.3.3|0|永远,4.4.4.4|0|永远,5.5.5.5|0|永远");
  m_control.Init();
  m_control.ReleaseSelected();
  EXPECT_EQ(ipfiltermsg::kChooseRelease, m_view.shown.back());

  g_nReportedRows = 2;
  m_view.selected = 3;
  m_control.ReleaseSelected();
  EXPECT_EQ((std::vector<std::string>{"0", "1", "2", "4"}), m_view.Column(0));
  EXPECT_EQ(2, m_view.selected);
  EXPECT_TRUE(m_view.listFocused);
  EXPECT_EQ(4, g_nReportedRows);
  EXPECT_FALSE(IsIpFiltered(InetAddr("4.4.4.4")));
  EXPECT_EQ("1.1.1.1|0|永远,2.2.2.2|0|永远,3.3.3.3|0|永远,5.5.5.5|0|永远", Saved("ipfilter", "ipfilterlst"));

  m_view.selected = 0;
  m_control.ReleaseSelected();
  EXPECT_EQ(-1, m_view.selected);
  EXPECT_EQ("2.2.2.2", m_view.rows[0].strIp);

  m_device.refuse = true;
  m_view.selected = 1;
  m_control.ReleaseSelected();
  EXPECT_EQ("解除失败!", m_view.shown.back());
  m_control.ReleaseAll();
  EXPECT_EQ("全部解除失败!", m_view.shown.back());
  EXPECT_EQ(3u, m_view.rows.size());
  m_device.refuse = false;
  m_control.ReleaseAll();
  EXPECT_EQ("全部解除成功!", m_view.shown.back());
  EXPECT_TRUE(m_view.rows.empty());
  EXPECT_TRUE(g_pIpFilterList.empty());
  EXPECT_EQ(0, g_nReportedRows);
}

// An automatic block that the list shows but the 40-second alert pass has not reported yet: a
// release of another row by hand leaves it to be reported, once.
TEST_F(IpFilterDialogs, AReleaseByHandNeverSwallowsAnUnreportedAutomaticBlock) {
  m_settings.ipfilterchk = true;
  Load("1.1.1.1|0|永远,2.2.2.2|0|永远");
  m_control.Init();
  m_clock.Advance(100);
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("203.0.113.7", "0", "24小时", 0));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("203.0.113.8", "0", "24小时", 0));
  m_control.OnTimer(0);  // the rebuild shows them
  ASSERT_EQ(4u, m_view.rows.size());
  m_view.selected = 0;
  m_control.ReleaseSelected();  // 1.1.1.1, by hand
  m_view.selected = 2;
  m_control.ReleaseSelected();  // 203.0.113.8, by hand before it was reported: nothing to say of it
  m_control.OnTimer(1);
  ASSERT_EQ(1u, m_alerts.size());
  EXPECT_EQ(std::string(kBlockAlertPrefix) + "203.0.113.7," + kBlockAlertSuffix, m_alerts[0]);
  for (int i = 0; i < 3; ++i) {
    m_clock.Advance(40);
    m_control.OnTimer(0);
    m_control.OnTimer(1);
  }
  EXPECT_EQ(1u, m_alerts.size());
}

TEST_F(IpFilterDialogs, RebuildKeepsTheClickedRowByKeyAndFollowsTheTable) {
  Load("1.1.1.1|0|永远,2.2.2.2|80|永远,3.3.3.3|0|1分钟");
  m_control.Init();
  m_view.mark = 1;
  m_control.RowClicked();
  EXPECT_TRUE(m_control.Selection().bAny);
  EXPECT_EQ(InetAddr("2.2.2.2"), m_control.Selection().dwIp);
  EXPECT_EQ(PortFromText("80"), m_control.Selection().dwPort);
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("7.7.7.7", "0", "5分钟", 0));
  m_clock.Advance(61);
  ExpireIpFilters();  // 3.3.3.3 goes
  m_control.OnTimer(0);
  EXPECT_EQ((std::vector<std::string>{"1.1.1.1", "2.2.2.2", "7.7.7.7"}), m_view.Column(1));
  EXPECT_EQ(1, m_view.selected);
  EXPECT_EQ("3", g_strFilterCount);
  ASSERT_EQ(1u, m_pings.size());  // the ping rule goes with every rebuild
  EXPECT_STREQ("0", m_pings[0].szProtocol);

  m_view.autoScroll = false;
  m_control.AutoScrollChanged();
  ASSERT_TRUE(ReleaseIpFilter(InetAddr("2.2.2.2"), PortFromText("80")));
  m_control.Rebuild();
  EXPECT_EQ(-1, m_view.selected);
  EXPECT_FALSE(m_view.scrolledToLast);
}

// The hidden key column joins address and port without a separator, so two entries can share
// it; the selection follows the entry's address and port, and the release takes that entry.
TEST_F(IpFilterDialogs, TheSelectionFollowsAddressAndPortNotTheJoinedKey) {
  Load("1.2.3.4|80|永远,1.2.3.48|0|永远");
  m_control.Init();
  ASSERT_EQ(m_view.rows[0].strKey, m_view.rows[1].strKey);  // "1.2.3.480" twice, as the list shows it
  m_view.mark = 1;
  m_control.RowClicked();
  m_control.OnTimer(0);
  EXPECT_EQ(1, m_view.selected);
  m_control.ReleaseSelected();
  EXPECT_TRUE(FindIpFilter(InetAddr("1.2.3.4"), PortFromText("80")));
  EXPECT_FALSE(IsIpFiltered(InetAddr("1.2.3.48")));
  EXPECT_EQ("1.2.3.4|80|永远", Saved("ipfilter", "ipfilterlst"));
}

TEST_F(IpFilterDialogs, SaveChecksBothFieldsForDigitsThenWritesAndSendsThePingRule) {
  m_control.Init();
  m_view.count = "12a";
  m_view.mb = "5";
  m_control.SaveSettings();
  EXPECT_EQ(ipfiltermsg::kCountNotNumber, m_view.shown.back());
  EXPECT_EQ(BlockedField::kCount, m_view.focused);
  m_view.count = "120";
  for (const char* bad : {"", " 5", "5.5"}) {
    m_view.mb = bad;
    m_control.SaveSettings();
    EXPECT_EQ(ipfiltermsg::kMbNotNumber, m_view.shown.back());
    EXPECT_EQ(BlockedField::kMb, m_view.focused);
  }
  EXPECT_EQ("", Saved("sysice", "sysiceipcount"));
  EXPECT_TRUE(m_pings.empty());

  m_view.mb = "99999999999";  // beyond the int range: the highest limit
  m_view.checkedRadio = 3;
  m_view.ping = true;
  m_control.SaveSettings();
  EXPECT_EQ(ipfiltermsg::kSaved, m_view.shown.back());
  EXPECT_EQ("1小时", Saved("sysice", "sysicetimer"));
  EXPECT_EQ("120", Saved("sysice", "sysiceipcount"));
  EXPECT_EQ("2147483647", Saved("sysice", "sysiceipmb"));
  EXPECT_EQ(120, m_settings.sysiceipcount);
  EXPECT_TRUE(m_settings.pingin && m_settings.pingout);
  ASSERT_EQ(1u, m_pings.size());
  EXPECT_STREQ("ICMP", m_pings[0].szProtocol);
  EXPECT_EQ(1u, m_pings[0].dwValue);
  EXPECT_EQ("1", Saved("ping", "pingout"));
}

TEST_F(IpFilterDialogs, EnterActsInTheAddressPortAndAccessFieldsOnly) {
  m_control.Init();
  m_view.address = "6.6.6.6";
  m_view.port = "0";
  m_control.EnterPressed(BlockedField::kPort);
  m_view.address = "6.6.6.7";
  m_control.EnterPressed(BlockedField::kAddress);
  EXPECT_EQ(2u, m_view.rows.size());
  m_view.address = "6.6.6.8";
  m_view.count = "5";
  m_view.mb = "5";
  m_control.EnterPressed(BlockedField::kMb);
  m_control.EnterPressed(BlockedField::kOther);
  EXPECT_TRUE(m_view.shown.empty());
  m_control.EnterPressed(BlockedField::kCount);
  EXPECT_EQ((std::vector<std::string>{ipfiltermsg::kSaved}), m_view.shown);
  EXPECT_EQ(2u, m_view.rows.size());
}

TEST_F(IpFilterDialogs, TheRemoteCheckRunsOnlyWhenSetAndAReleaseEmptiesTheList) {
  Load("1.1.1.1|0|永远");
  m_control.Init();
  m_control.OnTimer(2);  // nothing set: nothing happens
  EXPECT_EQ(1u, m_view.rows.size());
  int calls = 0;
  SetRemoteCommandCheck([&] {
    ++calls;
    return calls == 2 && ReleaseAllIpFilters();
  });
  m_control.OnTimer(2);
  EXPECT_EQ(1u, m_view.rows.size());
  m_control.OnTimer(2);
  EXPECT_EQ(2, calls);
  EXPECT_TRUE(m_view.rows.empty());
  EXPECT_EQ(0, g_nReportedRows);
  EXPECT_TRUE(m_view.shown.empty());
}

// The alert over the list's rows: loaded entries are no flood, a row that leaves below the
// rows already looked at lowers the count, and nothing piles up while the switch is off.
TEST_F(IpFilterDialogs, TheBlockAlertNamesOnlyNewAutomaticBlocks) {
  std::string list;
  for (int i = 1; i <= 50; ++i) list += (i > 1 ? "," : "") + ("10.0.1." + std::to_string(i)) + "|0|1分钟";
  Load(list);
  m_settings.ipfilterchk = true;
  m_control.Init();
  auto floodFrom = [&](const char* ip) {
    ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp(ip, "0", "24小时", 0));
    m_clock.Advance(61);
    m_control.OnTimer(0);
    m_control.OnTimer(1);
  };
  floodFrom("203.0.113.7");
  ASSERT_EQ(1u, m_alerts.size());
  EXPECT_EQ("IP地址：203.0.113.7,被Tavrick屏蔽，原因:类似ddos攻击或访问流量过大!", m_alerts[0]);

  ExpireIpFilters();  // a loaded row, below the rows looked at
  floodFrom("203.0.113.8");
  ASSERT_EQ(2u, m_alerts.size());
  EXPECT_EQ("IP地址：203.0.113.8,被Tavrick屏蔽，原因:类似ddos攻击或访问流量过大!", m_alerts[1]);

  m_settings.ipfilterchk = false;
  floodFrom("203.0.113.9");
  m_settings.ipfilterchk = true;
  floodFrom("203.0.113.10");
  ASSERT_EQ(3u, m_alerts.size());
  EXPECT_EQ("IP地址：203.0.113.10,被Tavrick屏蔽，原因:类似ddos攻击或访问流量过大!", m_alerts[2]);

  // A manual row first holds the pass back (its addresses wait for the next one).
  m_view.address = "198.18.0.1";
  m_view.port = "0";
  m_control.ManualBlock();
  floodFrom("203.0.113.11");
  EXPECT_EQ(3u, m_alerts.size());
  floodFrom("203.0.113.12");
  ASSERT_EQ(4u, m_alerts.size());
  EXPECT_NE(std::string::npos, m_alerts[3].find("198.18.*.1,203.0.113.11,203.0.113.12,")) << m_alerts[3];
}

// An automatic block that the list does not show yet (it shows up at the next 20-second rebuild)
// while a row added by hand is already shown: whatever the order of the manual add, the
// rebuild and the 40-second pass, the automatic block is reported, and only once.
TEST_F(IpFilterDialogs, AnAutomaticBlockIsReportedOnceWhateverComesFirst) {
  m_settings.ipfilterchk = true;
  // Timer 1 is the 40-second pass, timer 0 the 20-second rebuild.
  for (const std::vector<int>& timers : {std::vector<int>{1, 0}, std::vector<int>{0, 1}}) {
    SCOPED_TRACE(timers.front());
    g_pIpFilterList.LoadAtStart({});
    g_ReportedSerials.clear();
    g_strBlockedIps.clear();
    m_alerts.clear();
    m_control.Init();
    ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("203.0.113.7", "0", "24小时", 0));
    m_view.address = "198.18.0.1";
    m_view.port = "0";
    m_control.ManualBlock();  // shown at once, below the rows of the last rebuild
    m_clock.Advance(61);
    for (int timer : timers) {
      m_control.OnTimer(timer);
      m_clock.Advance(40);
    }
    for (int i = 0; i < 4; ++i) {  // later passes and rebuilds send nothing twice
      m_control.OnTimer(0);
      m_control.OnTimer(1);
      m_clock.Advance(40);
    }
    ASSERT_EQ(1u, m_alerts.size());
    EXPECT_NE(std::string::npos, m_alerts[0].find("203.0.113.7,")) << m_alerts[0];
  }
}

// A second automatic block inside the 60 s after an alert is sent by the pass after the
// spacing, without waiting for a third block, and only once.
TEST_F(IpFilterDialogs, ABlockKeptBackByTheSpacingGoesOutByItselfAfterIt) {
  m_settings.ipfilterchk = true;
  m_control.Init();
  m_clock.Advance(100);
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("203.0.113.7", "0", "24小时", 0));
  m_control.OnTimer(0);
  m_control.OnTimer(1);
  ASSERT_EQ(1u, m_alerts.size());
  m_clock.Advance(20);
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("203.0.113.8", "0", "24小时", 0));
  m_control.OnTimer(0);
  m_control.OnTimer(1);  // 20 s after the alert: kept back
  EXPECT_EQ(1u, m_alerts.size());
  for (int i = 0; i < 4; ++i) {
    m_clock.Advance(40);
    m_control.OnTimer(0);
    m_control.OnTimer(1);
  }
  ASSERT_EQ(2u, m_alerts.size());
  EXPECT_NE(std::string::npos, m_alerts[1].find("：203.0.113.8,被")) << m_alerts[1];
}

TEST_F(IpFilterDialogs, ExceptionsAddWithTheirMessagesAndDeleteMovesTheSelectionUp) {
  CFakeExceptionView view;
  CExceptionIpControl control(view);
  ASSERT_EQ(AddIpOuterOutcome::kAdded, AddIpOuter("8.8.8.8"));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("61.0.0.0", "0", "5分钟", 0));
  control.Init();
  ASSERT_EQ(1u, view.rows.size());
  EXPECT_EQ((std::vector<std::string>{"0", "8.8.8.8"}), view.rows[0].Cells());

  view.address = "0.0.0.0";
  control.Add();
  EXPECT_EQ("IP地址不能输入0.0.0.0!", view.shown.back());
  view.address = "192.168.0.0";
  control.Add();
  ASSERT_EQ(2u, view.rows.size());
  EXPECT_EQ((std::vector<std::string>{"1", "192.168.*.*"}), view.rows[1].Cells());
  EXPECT_EQ("0.0.0.0", view.address);
  view.address = "192.168.1.5";
  control.Add();
  EXPECT_EQ("例外中已存在IP!", view.shown.back());
  view.address = "61.0.0.0";
  control.Add();
  EXPECT_EQ("IP已被冻结,请先解除再添加到例外中!", view.shown.back());
  const size_t messages = view.shown.size();
  m_device.refuse = true;
  view.address = "9.9.9.9";
  control.Add();
  EXPECT_EQ(messages, view.shown.size());  // nothing shown, nothing changes
  EXPECT_EQ("9.9.9.9", view.address);
  m_device.refuse = false;
  control.Add();
  ASSERT_EQ(3u, view.rows.size());

  control.Delete();
  EXPECT_EQ("请选择要删除的IP!", view.shown.back());
  view.selected = 2;
  control.Delete();
  EXPECT_EQ(1, view.selected);
  EXPECT_TRUE(view.listFocused);
  EXPECT_EQ("8.8.8.8,192.168.0.0", Saved("ipouter", "ipouterlst"));
  m_device.refuse = true;
  control.Delete();
  EXPECT_EQ(2u, view.rows.size());
  m_device.refuse = false;
  view.selected = 0;
  control.Delete();
  EXPECT_EQ(-1, view.selected);
  EXPECT_EQ((std::vector<std::string>{"1", "192.168.*.*"}), view.rows[0].Cells());  // numbers stay until reopened
  EXPECT_EQ(1u, m_device.exceptions.size());
}

}  // namespace
