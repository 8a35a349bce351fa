// The web directory watcher's rounds against scripted change notices: which files are queued,
// the order of re-arming and locking, and the rescan after lost notices.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <deque>
#include <map>

#include "common/clock.h"
#include "config/settings.h"
#include "webguard/script_checker.h"
#include "webguard/watch_rounds.h"
#include "webguard/watch_types.h"

namespace {

// Reads scripted as a list of outcomes; every call is recorded in order.
class CScriptedChanges : public IDirectoryChanges {
 public:
  struct CRead {
    ReadOutcome outcome;
    std::vector<CNotice> notices;
  };
  std::deque<CRead> reads;
  std::vector<std::string> calls;
  int failingArms = 0;

  bool Arm() override {
    calls.push_back("arm");
    if (failingArms > 0) {
      --failingArms;
      return false;
    }
    return true;
  }
  ReadOutcome Wait(std::vector<CNotice>* notices) override {
    calls.push_back("wait");
    if (reads.empty()) return ReadOutcome::kStopped;
    CRead read = reads.front();
    reads.pop_front();
    *notices = read.notices;
    return read.outcome;
  }
  bool Pause(int) override {
    calls.push_back("pause");
    return true;
  }
  bool LockList() override {
    calls.push_back("lock");
    return true;
  }
  void UnlockList() override { calls.push_back("unlock"); }
  bool Reopen() override {
    calls.push_back("reopen");
    return true;
  }
  bool Stopping() override { return stopAfterEntries >= 0 && ++entriesSeen > stopAfterEntries; }
  int stopAfterEntries = -1, entriesSeen = 0;
};

class CFolderFiles : public IWebFileSystem {
 public:
  std::map<std::string, std::vector<CFolderEntry>> folders;
  std::map<std::string, std::string> longNames;
  CWebFile LongPath(const CWebFile& file) override {
    auto it = longNames.find(file.strPath);
    if (it == longNames.end()) return CWebFile{};
    return CWebFile{it->second, std::u16string(it->second.begin(), it->second.end())};
  }
  bool ReadPieces(const CWebFile&, const std::function<bool(const char*, size_t)>&) override { return false; }
  bool Enumerate(const CWebFile& pattern, std::vector<CFolderEntry>* entries) override {
    auto it = folders.find(pattern.strPath);
    if (it == folders.end()) return false;
    *entries = it->second;
    return true;
  }
  std::u16string WidePath(const std::string& path) override { return std::u16string(path.begin(), path.end()); }
  void AppendGbk(const char16_t*, size_t, std::string*) override {}
};

CNotice Notice(uint32_t action, const std::string& name) {
  CNotice n;
  n.action = action;
  n.strName = name;
  n.wstrName = std::u16string(name.begin(), name.end());
  return n;
}

class WebguardWatch : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    target.folder = CWebFile{"C:\\site", u"C:\\site"};
    target.pTypes = types;
    target.nTypes = kWatchTypeCount;
    target.pFiles = &pending;
    target.pEnabled = &enabled;
  }
  std::vector<std::string> Queued() {
    std::vector<std::string> files;
    for (const auto& f : pending) files.push_back(f->strFile);
    return files;
  }
  void Run() {
    CWatchRounds rounds(changes, files, clock, [this](const std::string& text) { logs.push_back(text); });
    rounds.Run(target);
  }

  std::string types[kWatchTypeCount] = {"asp", "asa", "aspx", "php", "jsp"};
  std::atomic<int32_t> enabled{1};
  CWatcherFileList pending;
  CWatchTarget target;
  CScriptedChanges changes;
  CFolderFiles files;
  CManualClock clock{1700000000};  // 2023-11-14 22:13:20 UTC
  std::vector<std::string> logs;
};

TEST_F(WebguardWatch, AddedModifiedAndRenamedInFilesAreQueuedOncePerRead) {
  changes.reads.push_back({ReadOutcome::kNotices,
                           {Notice(kNoticeAdded, "up\\a.php"), Notice(kNoticeModified, "up\\a.php"),
                            Notice(kNoticeModified, "up\\a.php"), Notice(kNoticeModified, "index.php"),
                            Notice(kNoticeRenamedOld, "x.txt"), Notice(kNoticeRenamedNew, "x.php"),
                            Notice(kNoticeRenamedOld, "old.asp"), Notice(kNoticeRemoved, "gone.asp"),
                            Notice(kNoticeModified, "style.css")}});
  Run();
  EXPECT_EQ((std::vector<std::string>{"C:\\site\\up\\a.php", "C:\\site\\index.php", "C:\\site\\x.php"}), Queued());
  EXPECT_EQ("增加", pending[0]->strAction);
  EXPECT_EQ("11.14 22:13:20", pending[0]->strTime);
  EXPECT_EQ(u"C:\\site\\up\\a.php", pending[0]->wstrFile);
}

TEST_F(WebguardWatch, FileGoneAgainWithinTheReadIsNotQueued) {
  changes.reads.push_back({ReadOutcome::kNotices,
                           {Notice(kNoticeAdded, "tmp.php"), Notice(kNoticeModified, "tmp.php"),
                            Notice(kNoticeRemoved, "tmp.php"), Notice(kNoticeAdded, "b.asp"),
                            Notice(kNoticeRenamedOld, "b.asp"), Notice(kNoticeRenamedNew, "b.txt"),
                            Notice(kNoticeRemoved, "c.jsp"), Notice(kNoticeAdded, "c.jsp")}});
  Run();
  EXPECT_EQ(std::vector<std::string>{"C:\\site\\c.jsp"}, Queued());
}

TEST_F(WebguardWatch, SemicolonNamesCountAsTheirScriptType) {
  changes.reads.push_back({ReadOutcome::kNotices,
                           {Notice(kNoticeAdded, "x.asp;.jpg"), Notice(kNoticeAdded, "y.php;1.png"),
                            Notice(kNoticeAdded, "z.jpg;.asp"), Notice(kNoticeAdded, "w.gif"),
                            Notice(kNoticeAdded, "v;.php"), Notice(kNoticeAdded, "u.txt;x")}});
  Run();
  // IIS runs a name by its extension before the first ";" and by its last one.
  EXPECT_EQ((std::vector<std::string>{"C:\\site\\x.asp;.jpg", "C:\\site\\y.php;1.png", "C:\\site\\z.jpg;.asp",
                                      "C:\\site\\v;.php"}),
            Queued());
}

TEST_F(WebguardWatch, NextReadIsArmedBeforeTheListLockIsTaken) {
  changes.reads.push_back({ReadOutcome::kNotices, {Notice(kNoticeAdded, "a.php")}});
  changes.reads.push_back({ReadOutcome::kNotices, {Notice(kNoticeAdded, "b.php")}});
  Run();
  EXPECT_EQ((std::vector<std::string>{"arm", "wait", "arm", "lock", "unlock", "wait", "arm", "lock", "unlock",
                                      "wait"}),
            changes.calls);
  EXPECT_EQ(2u, pending.size());
}

TEST_F(WebguardWatch, FileStillWaitingForItsCheckIsNotQueuedTwice) {
  pending.push_back(MakeWatcherFile("C:\\site\\a.php", kActionAdded, "t", u"C:\\site\\a.php"));
  changes.reads.push_back({ReadOutcome::kNotices, {Notice(kNoticeModified, "a.php"), Notice(kNoticeAdded, "b.php")}});
  Run();
  EXPECT_EQ((std::vector<std::string>{"C:\\site\\a.php", "C:\\site\\b.php"}), Queued());
}

TEST_F(WebguardWatch, LostNoticesQueueTheWatchedFilesAndAreLoggedOncePerRead) {
  files.folders["C:\\site\\*.*"] = {{".", true}, {"index.php", false, u"index.php"}, {"logo.gif", false, u"logo.gif"},
                                    {"up", true, u"up"}};
  files.folders["C:\\site\\up\\*.*"] = {{"shell.asp", false, u"shell.asp"}};
  changes.reads.push_back({ReadOutcome::kOverflow, {}});
  changes.reads.push_back({ReadOutcome::kNotices, {Notice(kNoticeAdded, "later.php")}});
  changes.reads.push_back({ReadOutcome::kOverflow, {}});
  Run();
  EXPECT_EQ((std::vector<std::string>{"C:\\site\\index.php", "C:\\site\\up\\shell.asp", "C:\\site\\later.php"}),
            Queued());
  EXPECT_EQ("扫描", pending[0]->strAction);  // checked at once, without the upload wait
  EXPECT_EQ(u"C:\\site\\up\\shell.asp", pending[1]->wstrFile);
  ASSERT_EQ(2u, logs.size());
  EXPECT_EQ("-  C:\\site  变动过多,已重新扫描  23.11.14 22:13:20 \r\n ", logs[0]);
}

TEST_F(WebguardWatch, NothingIsQueuedWhileDisabledAndFailedReadsAreRetried) {
  enabled = 0;
  changes.reads.push_back({ReadOutcome::kNotices, {Notice(kNoticeAdded, "a.php")}});
  changes.reads.push_back({ReadOutcome::kOverflow, {}});
  Run();
  EXPECT_TRUE(pending.empty());
  EXPECT_TRUE(logs.empty());
}

TEST_F(WebguardWatch, AFolderThatCannotBeWatchedIsToldOnceAndReopened) {
  std::vector<std::string> messages;
  std::vector<bool> states;
  files.folders["C:\\site\\*.*"] = {{"came_meanwhile.php", false, u"came_meanwhile.php"}};
  changes.failingArms = 2;
  changes.reads.push_back({ReadOutcome::kFailed, {}});
  changes.reads.push_back({ReadOutcome::kNotices, {Notice(kNoticeAdded, "b.php")}});
  CWatchReports reports;
  reports.watching = [&](bool on) { states.push_back(on); };
  reports.message = [&](const std::string& text) { messages.push_back(text); };
  CWatchRounds rounds(changes, files, clock, [this](const std::string& text) { logs.push_back(text); }, reports);
  rounds.Run(target);
  EXPECT_EQ((std::vector<std::string>{"arm", "pause", "reopen", "arm", "pause", "reopen", "arm", "lock", "unlock",
                                      "wait", "reopen", "arm", "lock", "unlock", "wait", "arm", "lock", "unlock",
                                      "wait"}),
            changes.calls);
  // Told once, in the log and to the administrator; the rescan once it is back finds what came.
  // The failed read that opened again at once is told and rescanned too.
  EXPECT_EQ((std::vector<std::string>{"网站保护无法监视文件夹,恢复后自动继续:C:\\site",
                                      std::string(kWatchReopenedMessage) + "C:\\site"}),
            messages);
  ASSERT_EQ(3u, logs.size());
  EXPECT_NE(std::string::npos, logs[0].find("无法监视"));
  EXPECT_NE(std::string::npos, logs[1].find("恢复监视"));
  EXPECT_NE(std::string::npos, logs[2].find(kWatchReopenedLogNote));
  EXPECT_EQ((std::vector<bool>{false, true}), states);
  EXPECT_EQ((std::vector<std::string>{"C:\\site\\came_meanwhile.php", "C:\\site\\b.php"}), Queued());
}

TEST_F(WebguardWatch, FoldersThatArriveBringTheirFilesAndShortNamesAreMadeLong) {
  files.folders["C:\\site\\moved\\*.*"] = {{"shell.php", false, u"shell.php"}, {"pic.jpg", false, u"pic.jpg"},
                                             {"deep", true, u"deep"}};
  files.folders["C:\\site\\moved\\deep\\*.*"] = {{"x.jsp", false, u"x.jsp"}};
  files.folders["C:\\site\\up.asp\\*.*"] = {{"logo.jpg", false, u"logo.jpg"}};
  files.folders["C:\\site\\made\\*.*"] = {};
  files.longNames["C:\\site\\SHELL~1.ASP"] = "C:\\site\\shell.aspx";
  files.longNames["C:\\site\\UPLOAD~1\\A~1.PHP"] = "C:\\site\\uploads\\a.php.txt";
  changes.reads.push_back({ReadOutcome::kNotices,
                           {Notice(kNoticeRenamedOld, "old"), Notice(kNoticeRenamedNew, "moved"),
                            Notice(kNoticeRenamedNew, "up.asp"), Notice(kNoticeAdded, "made"),
                            Notice(kNoticeModified, "moved"), Notice(kNoticeAdded, "SHELL~1.ASP"),
                            Notice(kNoticeAdded, "UPLOAD~1\\A~1.PHP")}});
  Run();
  // A folder named like an ASP page runs every file in it as ASP (IIS 6).
  EXPECT_EQ((std::vector<std::string>{"C:\\site\\moved\\shell.php", "C:\\site\\moved\\deep\\x.jsp",
                                      "C:\\site\\up.asp\\logo.jpg", "C:\\site\\shell.aspx"}),
            Queued());
  EXPECT_EQ(u"C:\\site\\shell.aspx", pending[3]->wstrFile);
}

TEST_F(WebguardWatch, RescanIsLinearAndEndsWhenTheWatcherStops) {
  auto& entries = files.folders["C:\\site\\*.*"];
  for (int i = 0; i < 20000; ++i) {
    const std::string name = "f" + std::to_string(i) + ".php";
    entries.push_back({name, false, std::u16string(name.begin(), name.end())});
  }
  // Half of them are waiting already: each is queued once.
  for (int i = 0; i < 20000; i += 2) {
    const std::string path = "C:\\site\\f" + std::to_string(i) + ".php";
    pending.push_back(MakeWatcherFile(path, kActionAdded, "t", std::u16string(path.begin(), path.end())));
  }
  changes.reads.push_back({ReadOutcome::kOverflow, {}});
  Run();
  EXPECT_EQ(20000u, pending.size());
  pending.clear();
  changes.stopAfterEntries = 100;
  changes.reads.push_back({ReadOutcome::kOverflow, {}});
  Run();
  EXPECT_LE(pending.size(), 100u);
}

}  // namespace

namespace {

TEST_F(WebguardWatch, AFolderReplacedInPlaceIsToldAndRescanned) {
  // Renamed away and a new folder put at its path: the read on the old one fails, the path
  // opens again at once and holds other files.
  std::vector<std::string> messages;
  files.folders["C:\\site\\*.*"] = {{"planted.php", false, u"planted.php"}, {"pic.jpg", false, u"pic.jpg"}};
  changes.reads.push_back({ReadOutcome::kFailed, {}});
  CWatchReports reports;
  reports.message = [&](const std::string& text) { messages.push_back(text); };
  CWatchRounds rounds(changes, files, clock, [this](const std::string& text) { logs.push_back(text); }, reports);
  rounds.Run(target);
  EXPECT_EQ(std::vector<std::string>{std::string(kWatchReopenedMessage) + "C:\\site"}, messages);
  ASSERT_EQ(1u, logs.size());
  EXPECT_NE(std::string::npos, logs[0].find(kWatchReopenedLogNote));
  EXPECT_EQ(std::vector<std::string>{"C:\\site\\planted.php"}, Queued());
  EXPECT_EQ(kActionScanned, pending[0]->strAction);
}

TEST_F(WebguardWatch, ABacklogOverflowIsCountedAndToldOncePerOverflow) {
  std::vector<std::string> messages;
  for (size_t i = 0; i < kMaxPendingFiles; ++i) {
    pending.push_back(MakeWatcherFile("C:\\site\\w" + std::to_string(i) + ".php", kActionAdded, "t"));
  }
  changes.reads.push_back({ReadOutcome::kNotices, {Notice(kNoticeAdded, "a.php"), Notice(kNoticeAdded, "b.php")}});
  changes.reads.push_back({ReadOutcome::kNotices, {Notice(kNoticeAdded, "c.php")}});
  CWatchReports reports;
  reports.message = [&](const std::string& text) { messages.push_back(text); };
  CWatchRounds rounds(changes, files, clock, [this](const std::string& text) { logs.push_back(text); }, reports);
  rounds.Run(target);
  EXPECT_EQ(kMaxPendingFiles, pending.size());
  EXPECT_EQ(3u, rounds.DroppedCount());
  ASSERT_EQ(2u, logs.size());
  EXPECT_NE(std::string::npos, logs[0].find(std::string(kBacklogFullLogNote) + "2"));
  EXPECT_NE(std::string::npos, logs[1].find(std::string(kBacklogFullLogNote) + "1"));
  EXPECT_EQ(std::vector<std::string>{std::string(kBacklogFullMessage) + "C:\\site"}, messages);
  // Room again: queued; the next overflow is told again.
  pending.erase(pending.begin());
  changes.reads.push_back({ReadOutcome::kNotices, {Notice(kNoticeAdded, "d.php")}});
  changes.reads.push_back({ReadOutcome::kNotices, {Notice(kNoticeAdded, "e.php")}});
  rounds.Run(target);
  EXPECT_EQ("C:\\site\\d.php", pending.back()->strFile);
  EXPECT_EQ(4u, rounds.DroppedCount());
  EXPECT_EQ(2u, messages.size());
}

}  // namespace
