// The website protection window's decisions and the result list its workers fill: switch-on
// checks, type slots, captions, and a scan that is called off changing nothing shown.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "webguard/guard_results.h"
#include "common/crt_text.h"
#include "webguard/watchfile_form.h"

namespace {

const std::array<bool, kWatchTypeCount> kOnlyPhp = {false, false, false, true, false};
const std::array<bool, kWatchTypeCount> kNone = {};

TEST(WebsiteWindowForm, SwitchOnNeedsAFolderATypeAndADigitsOnlyLogLimit) {
  EXPECT_EQ("请选择web保护的文件夹!", CheckSwitchOn("", kOnlyPhp, "28").strMessage);
  EXPECT_EQ("请选择web保护的文件类型!", CheckSwitchOn("D:\\www", kNone, "28").strMessage);
  for (const char* bad : {"", "2a", "-5", "+5", " 28", "28 ", "1.5"}) {
    const CSwitchOnCheck check = CheckSwitchOn("D:\\www", kOnlyPhp, bad);
    EXPECT_EQ("保存日志条数必须输入数字!", check.strMessage) << bad;
    EXPECT_TRUE(check.bFocusLogLimit) << bad;
  }
  const CSwitchOnCheck ok = CheckSwitchOn("D:\\www", {true, false, true, false, true}, "007");
  EXPECT_EQ("", ok.strMessage);
  EXPECT_EQ(7, ok.nLogLimit);
  EXPECT_EQ((CTypeSlots{"asp", "", "aspx", "", "jsp"}), ok.slots);
  EXPECT_EQ("asp,,aspx,,jsp", EncodeWatchTypes(ok.slots));
  int value = 0;
  ASSERT_TRUE(ParseDigits("99999999999999999999", &value));
  EXPECT_EQ(INT_MAX, value);
}

TEST(WebsiteWindowForm, BoxesFollowTheSlotsWhateverTheirPositionAndCase) {
  EXPECT_EQ((std::array<bool, kWatchTypeCount>{false, false, false, true, false}),
            BoxesFromTypeSlots({"PHP", "", "", "", ""}));
  EXPECT_EQ((std::array<bool, kWatchTypeCount>{true, false, true, false, false}),
            BoxesFromTypeSlots({"", "aspx", "", "Asp", "asa "}));
}

TEST(WebsiteWindowForm, CaptionsAndBlinking) {
  EXPECT_STREQ("停止防护", ProtectCaption(true));
  EXPECT_STREQ("启动防护", ProtectCaption(false));
  EXPECT_STREQ("停止扫描", ScanButtonCaption(true));
  EXPECT_STREQ("开始扫描", ScanButtonCaption(false));
  EXPECT_EQ(265, ScanBlinkIcon(0));
  EXPECT_EQ(224, ScanBlinkIcon(1));
  EXPECT_EQ(265, ScanBlinkIcon(2));
}

class CCountingWindow : public IGuardWindow {
 public:
  int* changes;
  std::vector<std::string>* messages;
  CCountingWindow(int* c, std::vector<std::string>* m) : changes(c), messages(m) {}
  bool delivered = true;  // false: the post failed (queue full)
  bool Changed() override {
    ++*changes;
    return delivered;
  }
  void Message(const std::string& text) override { messages->push_back(text); }
  bool Exists() override { return true; }
};

class GuardResults : public ::testing::Test {
 protected:
  int changes = 0;
  std::vector<std::string> messages;
  CGuardResults results{std::make_unique<CCountingWindow>(&changes, &messages)};
};

TEST_F(GuardResults, RowsAreNumberedByTheListAndTheWindowIsAskedOnceUntilItLooks) {
  results.InsertRow(0, "0", "a.php", "可疑", "t1");
  results.InsertRow(1, "1", "b.php", "可疑", "t2");
  EXPECT_EQ(1, changes);
  results.Seen();
  results.RemoveFirst(2);
  // The checker read 2 before the list was emptied: the row is the first of the new list.
  results.InsertRow(2, "2", "c.php", "可疑", "t3");
  EXPECT_EQ(2, changes);
  auto rows = results.Rows();
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ("0", rows[0].strId);
  EXPECT_EQ("c.php", rows[0].strFile);
  EXPECT_TRUE(results.RowsFrom(1).empty());
  // Emptying what the window showed keeps a row added meanwhile, numbered again.
  results.InsertRow(1, "1", "d.php", "可疑", "t4");
  results.RemoveFirst(1);
  rows = results.Rows();
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ("0", rows[0].strId);
  EXPECT_EQ("d.php", rows[0].strFile);
  results.RemoveFirst(5);
  EXPECT_EQ(0, results.RowCount());
  results.ShowMessage("x");
  EXPECT_EQ(std::vector<std::string>{"x"}, messages);
}

TEST(GuardResultsPosts, AChangeTheWindowWasNeverToldOfAsksAgain) {
  int changes = 0;
  std::vector<std::string> messages;
  auto owned = std::make_unique<CCountingWindow>(&changes, &messages);
  CCountingWindow* window = owned.get();
  CGuardResults results{std::move(owned)};
  window->delivered = false;  // the window's message queue is full
  results.InsertRow(0, "0", "a.php", "可疑", "t1");
  window->delivered = true;
  results.InsertRow(1, "1", "b.php", "可疑", "t2");
  EXPECT_EQ(2, changes) << "the failed post left the window never asked again";
  results.InsertRow(2, "2", "c.php", "可疑", "t3");
  EXPECT_EQ(2, changes);  // told now: asked once until it looks
}

TEST_F(GuardResults, ACalledOffScanChangesNothingShown) {
  auto token = std::make_shared<std::atomic<bool>>(false);
  const std::unique_ptr<IWebGuardView> scan = results.ScanView(token);
  scan->SetStatus("D:\\www\\a.php");
  scan->SetCounter("共:3\r\n查:0");
  scan->SetProgressPosition(4);
  EXPECT_EQ("D:\\www\\a.php", results.Face().strStatus);
  EXPECT_EQ(4, results.Face().nProgress);
  results.CallOff(token);
  EXPECT_TRUE(token->load());
  scan->SetStatus("D:\\www\\b.php");
  scan->SetCounter("共:3\r\n查:1");
  scan->SetProgressPosition(5);
  const CScanFace face = results.Face();
  EXPECT_EQ("", face.strStatus);
  EXPECT_EQ("", face.strCounter);
  EXPECT_EQ(0, face.nProgress);
  // Rows it queued still count: the checker finds them.
  scan->InsertRow(0, "0", "b.php", "可疑", "t");
  EXPECT_EQ(1, results.RowCount());
}

}  // namespace
