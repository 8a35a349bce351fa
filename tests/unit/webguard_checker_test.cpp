// Extension rules of the watcher, reading rules of the check, the checker's rounds and the
// folder scan, against in-memory files, library, lock and window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <stdexcept>

#include "common/clock.h"
#include "config/settings.h"
#include "driver/driver_link.h"
#include "webguard/script_checker.h"
#include "webguard/watch_types.h"

namespace {

// ---- extension rules ----

bool Watched(const std::string& path, std::array<std::string, kWatchTypeCount> types) {
  return MatchesWatchType(path, types.data(), kWatchTypeCount);
}

const std::array<std::string, kWatchTypeCount> kEveryType = {"asp", "asa", "aspx", "php", "jsp"};

TEST(WebguardExtensions, CaseInsensitiveExactComparison) {
  EXPECT_TRUE(Watched("C:\\site\\INDEX.PHP", kEveryType));
  EXPECT_TRUE(Watched("C:\\site\\sub\\shell.Asp", kEveryType));
  EXPECT_FALSE(Watched("C:\\site\\x.html", kEveryType));
  const std::array<std::string, kWatchTypeCount> onlyAspx = {"", "", "aspx", "", ""};
  EXPECT_FALSE(Watched("C:\\site\\a.asp", onlyAspx));     // no prefix match
  EXPECT_FALSE(Watched("C:\\site\\a.aspxx", onlyAspx));
  EXPECT_TRUE(Watched("C:\\site\\a.ASPX", onlyAspx));
}

TEST(WebguardExtensions, NameEndingInDotMatchesAnUnmonitoredSlot) {
  const std::array<std::string, kWatchTypeCount> someOff = {"asp", "", "aspx", "php", "jsp"};
  EXPECT_TRUE(Watched("C:\\site\\odd.", someOff));
  EXPECT_FALSE(Watched("C:\\site\\odd.", kEveryType));
}

TEST(WebguardExtensions, LastPartOnlyAndNamesWithoutDot) {
  // A dot in a folder name is not the file's extension; a name without one is its own.
  EXPECT_FALSE(Watched("C:\\site.php\\readme", kEveryType));
  EXPECT_TRUE(Watched("C:\\site.x\\php", kEveryType));
  EXPECT_TRUE(Watched("C:/site/up/a.jsp", kEveryType));
  std::string extension;
  ASSERT_TRUE(ExtensionOfPath("C:\\a\\b.tar.gz", &extension));
  EXPECT_EQ("gz", extension);
}

TEST(WebguardExtensions, TwentyNineCharacterLimit) {
  const std::string ext29(29, 'p');
  std::array<std::string, kWatchTypeCount> types = {ext29, "", "", "", ""};
  EXPECT_TRUE(Watched("C:\\s\\a." + ext29, types));
  types[0] = ext29 + "p";
  EXPECT_FALSE(Watched("C:\\s\\a." + ext29 + "p", types));
  // Nor does an over-long extension meet an empty slot.
  types[0] = "";
  EXPECT_FALSE(Watched("C:\\s\\a." + ext29 + "p", types));
}

TEST(WebguardExtensions, DoubleByteCharactersAreNotSplit) {
  // 0x81 0x5C is one character whose trail byte looks like a backslash.
  EXPECT_TRUE(Watched("C:\\site\\\x81\\.php", kEveryType));
  EXPECT_EQ("\x81\\a", LowerGbk("\x81\\A"));
  EXPECT_EQ("\x81" "Ab", LowerGbk("\x81" "AB"));  // 'A' is a trail byte here
  EXPECT_TRUE(EndsWithBackslash("C:\\site\\"));
  EXPECT_FALSE(EndsWithBackslash("C:\\\x81\\"));
}

// ---- in-memory ports ----

class CFakeFiles : public IWebFileSystem {
 public:
  std::map<std::string, std::string> files;
  std::map<std::string, uint64_t> claimedSize;  // sizes without the bytes
  std::set<std::string> failing;                // reading throws
  std::map<std::string, std::vector<CFolderEntry>> folders;  // pattern -> entries

  bool FileSize(const std::string& path, uint64_t* size) override {
    if (failing.count(path)) throw std::runtime_error("disk");
    if (claimedSize.count(path)) { *size = claimedSize[path]; return true; }
    auto it = files.find(path);
    if (it == files.end()) return false;
    *size = it->second.size();
    return true;
  }
  bool ReadRaw(const std::string& path, std::string* bytes) override {
    auto it = files.find(path);
    if (it == files.end()) return false;
    *bytes = it->second;
    return true;
  }
  bool Enumerate(const std::string& pattern, std::vector<CFolderEntry>* entries) override {
    auto it = folders.find(pattern);
    if (it == folders.end()) return false;
    *entries = it->second;
    return true;
  }
};

class CFakeLibrary : public IScriptLibrary {
 public:
  bool loaded = true, exported = true;
  std::vector<std::string> signatures;
  int calls = 0;
  bool Loaded() override { return loaded; }
  bool FetchSignatures(const char** entries, int* count) override {
    if (!exported) return false;
    ++calls;
    for (size_t i = 0; i < signatures.size(); ++i) entries[i] = signatures[i].c_str();
    *count = static_cast<int>(signatures.size());
    return true;
  }
};

class CFakeSleeper : public ISleeper {
 public:
  std::vector<int> sleeps;
  std::function<void(int)> onSleep;
  void Sleep(int ms) override {
    sleeps.push_back(ms);
    if (onSleep) onSleep(static_cast<int>(sleeps.size()));
  }
};

class CFakeLock : public IWatchListLock {
 public:
  int depth = 0, taken = 0;
  void Lock() override { ASSERT_EQ(0, depth); ++depth; ++taken; }
  void Unlock() override { --depth; }
};

struct CRow {
  std::string id, file, type, time;
  bool operator==(const CRow& o) const {
    return id == o.id && file == o.file && type == o.type && time == o.time;
  }
};

class CFakeView : public IWebGuardView {
 public:
  std::vector<CRow> rows;
  bool autoScroll = true, exists = true;
  std::string folder, status = "old", counter = "old", caption = "停止扫描";
  std::vector<std::string> messages, statuses, counters;
  std::vector<int> positions, scrolledTo;
  int low = -1, high = -1, step = -1;

  int RowCount() override { return static_cast<int>(rows.size()); }
  void InsertRow(int index, const std::string& id, const std::string& file, const std::string& type,
                 const std::string& time) override {
    rows.insert(rows.begin() + index, CRow{id, file, type, time});
  }
  bool AutoScroll() override { return autoScroll; }
  void ScrollToRow(int index) override { scrolledTo.push_back(index); }
  std::string FolderPath() override { return folder; }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void SetStatus(const std::string& text) override { status = text; statuses.push_back(text); }
  void SetCounter(const std::string& text) override { counter = text; counters.push_back(text); }
  void SetProgressRange(int l, int h, int s) override { low = l; high = h; step = s; }
  void SetProgressPosition(int p) override { positions.push_back(p); }
  void SetScanCaption(const std::string& text) override { caption = text; }
  bool WindowExists() override { return exists; }
};

class WebguardChecker : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    g_bStopped = 0;
    g_bScanning = 1;
  }
  void TearDown() override {
    g_bStopped = 1;
    g_bScanning = 0;
  }
  void Queue(const std::string& path, const char* action, const std::string& time = "t") {
    pending.push_back(MakeWatcherFile(path, action, time));
  }

  CFakeFiles files;
  CFakeLibrary library;
  CManualClock clock{1700000000};  // 2023-11-14 22:13:20 UTC
  CFakeSleeper sleeper;
  CFakeLock lock;
  CWatcherFileList pending;
  CWebGuardPorts ports{files, library, clock, sleeper, lock, pending};
  CFakeView view;
};

// ---- reading rules ----

TEST_F(WebguardChecker, TextModeReading) {
  files.files["crlf"] = "a\r\nb\rc\r";
  EXPECT_EQ("a\nb\rc\r", ReadScriptText(files, "crlf"));
  files.files["ctrlz"] = "visible\x1Ahidden";
  EXPECT_EQ("visible", ReadScriptText(files, "ctrlz"));
  files.files["nul"] = std::string("front\0back", 10);
  EXPECT_EQ("front", ReadScriptText(files, "nul"));
  files.files["empty"] = "";
  EXPECT_EQ("", ReadScriptText(files, "empty"));
  EXPECT_EQ(" ", ReadScriptText(files, "missing"));
}

TEST_F(WebguardChecker, OversizedFileIsNotRead) {
  files.files["big"] = "eval(";
  files.claimedSize["big"] = kScriptSizeLimit;
  EXPECT_EQ(" ", ReadScriptText(files, "big"));
  files.claimedSize["big"] = kScriptSizeLimit - 1;
  EXPECT_EQ("eval(", ReadScriptText(files, "big"));
}

TEST_F(WebguardChecker, SuspiciousWhenContentHoldsAListedSignature) {
  CScriptChecker checker(ports);
  library.signatures = {"eval($_POST", "cmd.exe"};
  files.files["shell.php"] = "<?php eval($_POST['x']); ?>";
  files.files["clean.php"] = "<?php echo 'eval'; ?>";
  files.files["crlf.php"] = "cmd\r\n.exe";
  files.files["late.asp"] = std::string("<% x %>\0cmd.exe", 15);
  files.files["ctrlz.asp"] = "<% x %>\x1A" "cmd.exe";
  EXPECT_TRUE(checker.IsScriptSuspicious("shell.php"));
  EXPECT_FALSE(checker.IsScriptSuspicious("clean.php"));
  EXPECT_FALSE(checker.IsScriptSuspicious("crlf.php"));
  EXPECT_FALSE(checker.IsScriptSuspicious("late.asp"));
  EXPECT_FALSE(checker.IsScriptSuspicious("ctrlz.asp"));
  EXPECT_EQ(5, library.calls);  // the library is asked once per check
}

TEST_F(WebguardChecker, EmptyEntryEndsTheLibraryList) {
  CScriptChecker checker(ports);
  library.signatures = {"one", "two", "", "three"};
  files.files["a"] = "two";
  files.files["b"] = "three";
  EXPECT_TRUE(checker.IsScriptSuspicious("a"));
  EXPECT_FALSE(checker.IsScriptSuspicious("b"));
}

TEST_F(WebguardChecker, LibraryChangesBetweenChecksAreSeen) {
  CScriptChecker checker(ports);
  files.files["a"] = "alpha";
  library.signatures = {"beta"};
  EXPECT_FALSE(checker.IsScriptSuspicious("a"));
  library.signatures = {"beta", "alp"};
  EXPECT_TRUE(checker.IsScriptSuspicious("a"));
}

TEST_F(WebguardChecker, NothingIsSuspiciousWithoutLibraryOrContent) {
  CScriptChecker checker(ports);
  library.signatures = {" ", "x"};
  files.files["x"] = "x";
  files.files["empty"] = "";
  EXPECT_FALSE(checker.IsScriptSuspicious("empty"));
  // An unreadable file is a single blank, which only a one-blank signature matches.
  EXPECT_TRUE(checker.IsScriptSuspicious("unreadable"));
  library.exported = false;
  EXPECT_FALSE(checker.IsScriptSuspicious("x"));
  library.exported = true;
  library.loaded = false;
  EXPECT_FALSE(checker.IsScriptSuspicious("x"));
}

// ---- checker rounds ----

TEST_F(WebguardChecker, BatchAddsRowsForSuspiciousFilesAndEmptiesTheList) {
  CScriptChecker checker(ports);
  library.signatures = {"passthru("};
  files.files["C:\\w\\up.php"] = "passthru($_GET[c]);";
  files.files["C:\\w\\ok.php"] = "echo 1;";
  files.files["C:\\w\\old.php"] = "passthru($x)";
  view.rows.push_back(CRow{"0", "earlier", "可疑", "t0"});
  Queue("C:\\w\\up.php", kActionAdded, "11.14 22:13:20");
  Queue("C:\\w\\ok.php", kActionAdded);
  Queue("C:\\w\\old.php", kActionScanned, "23.11.14 22:13:20");
  checker.CheckPendingBatch(view);
  ASSERT_EQ(3u, view.rows.size());
  EXPECT_EQ((CRow{"1", "C:\\w\\up.php", "可疑", "11.14 22:13:20"}), view.rows[1]);
  EXPECT_EQ((CRow{"2", "C:\\w\\old.php", "可疑", "23.11.14 22:13:20"}), view.rows[2]);
  EXPECT_EQ((std::vector<int>{1, 2}), view.scrolledTo);
  // Uploads wait for the upload to finish; scanned files do not.
  EXPECT_EQ((std::vector<int>{kUploadSettleMs, kUploadSettleMs}), sleeper.sleeps);
  EXPECT_TRUE(pending.empty());
  EXPECT_EQ(0, lock.depth);
}

TEST_F(WebguardChecker, NoScrollingWhenAutoScrollIsOff) {
  CScriptChecker checker(ports);
  library.signatures = {"x"};
  files.files["a"] = "x";
  view.autoScroll = false;
  Queue("a", kActionScanned);
  checker.CheckPendingBatch(view);
  EXPECT_EQ(1u, view.rows.size());
  EXPECT_TRUE(view.scrolledTo.empty());
}

TEST_F(WebguardChecker, FailureInsideABatchReleasesTheLockAndKeepsChecking) {
  CScriptChecker checker(ports);
  library.signatures = {"x"};
  files.failing.insert("bad");
  files.files["good"] = "x";
  Queue("bad", kActionScanned);
  Queue("good", kActionScanned);
  EXPECT_NO_THROW(checker.CheckPendingBatch(view));
  EXPECT_EQ(1u, view.rows.size());
  EXPECT_EQ("good", view.rows[0].file);
  EXPECT_TRUE(pending.empty());
  EXPECT_EQ(0, lock.depth);
}

TEST_F(WebguardChecker, CheckerRunsRoundsUntilProtectionStops) {
  CScriptChecker checker(ports);
  library.signatures = {"x"};
  files.files["a"] = "x";
  files.files["b"] = "x";
  Queue("a", kActionScanned);
  sleeper.onSleep = [&](int n) {
    if (n == 2) Queue("b", kActionScanned);  // arrives while the checker runs
    if (n == 4) g_bStopped = 1;
  };
  checker.RunFileChecker(view);
  ASSERT_EQ(2u, view.rows.size());
  EXPECT_EQ("b", view.rows[1].file);
  EXPECT_EQ((std::vector<int>{kCheckerPauseMs, kCheckerPauseMs, kCheckerPauseMs, kCheckerPauseMs}),
            sleeper.sleeps);
  EXPECT_EQ(0, lock.depth);
}

// ---- folder scan ----

void AddFolder(CFakeFiles& files, const std::string& folder, int count, const std::string& sub = "") {
  auto& entries = files.folders[folder + "\\*.*"];
  entries.push_back({".", true});
  entries.push_back({"..", true});
  for (int i = 0; i < count; ++i) entries.push_back({"f" + std::to_string(i) + ".txt", false});
  if (!sub.empty()) entries.push_back({sub, true});
}

TEST_F(WebguardChecker, ListingIsDepthFirstInTheSystemsOrder) {
  files.folders["C:\\w\\*.*"] = {{".", true}, {"..", true}, {"a.php", false}, {"sub", true},
                                 {"z.asp", false}};
  files.folders["C:\\w\\sub\\*.*"] = {{"inner.jsp", false}, {"deeper", true}};
  files.folders["C:\\w\\sub\\deeper\\*.*"] = {{"x", false}};
  std::vector<std::string> list;
  ListFilesRecursive(files, "C:\\w\\", &list);
  EXPECT_EQ((std::vector<std::string>{"C:\\w\\a.php", "C:\\w\\sub\\inner.jsp",
                                      "C:\\w\\sub\\deeper\\x", "C:\\w\\z.asp"}),
            list);
  list.clear();
  ListFilesRecursive(files, "C:\\w", &list);
  EXPECT_EQ(4u, list.size());
  list.clear();
  ListFilesRecursive(files, "C:\\missing", &list);
  EXPECT_TRUE(list.empty());
}

TEST_F(WebguardChecker, ScanQueuesEveryFileAndStepsTheProgressBar) {
  AddFolder(files, "C:\\w", 240, "sub");
  AddFolder(files, "C:\\w\\sub", 10);
  view.folder = "C:\\w";
  ScanWebFolder(ports, view);
  EXPECT_EQ(3, ScanStepWidth(250));
  ASSERT_EQ(250u, pending.size());
  EXPECT_EQ("C:\\w\\f0.txt", pending[0]->strFile);
  EXPECT_EQ("C:\\w\\sub\\f9.txt", pending[249]->strFile);
  EXPECT_EQ(kActionScanned, pending[7]->strAction);
  EXPECT_EQ("23.11.14 22:13:20", pending[7]->strTime);
  EXPECT_EQ(250, lock.taken);
  EXPECT_EQ(std::vector<int>(250, kScanPauseMs), sleeper.sleeps);
  EXPECT_EQ(0, view.low);
  EXPECT_EQ(100, view.high);
  EXPECT_EQ(1, view.step);
  // Progress moves on files 0, 3, ..., 249: 84 steps, then back to 0 at the end.
  ASSERT_EQ(85u, view.positions.size());
  EXPECT_EQ(83, view.positions[83]);
  EXPECT_EQ(0, view.positions.back());
  EXPECT_EQ("开始扫描文件请等待...", view.statuses.front());
  EXPECT_EQ("C:\\w\\f1.txt", view.statuses[2]);
  EXPECT_EQ("共:250\r\n查:0", view.counters.front());
  EXPECT_EQ("共:250\r\n查:249", view.counters[249]);
  // The end puts the controls back.
  EXPECT_EQ(0, g_bScanning.load());
  EXPECT_EQ("开始扫描", view.caption);
  EXPECT_EQ("", view.status);
  EXPECT_EQ("", view.counter);
}

TEST_F(WebguardChecker, ScanStopsAfterTheCurrentFileWhenTheButtonIsPressedAgain) {
  AddFolder(files, "C:\\w", 20);
  view.folder = "C:\\w";
  sleeper.onSleep = [](int n) { if (n == 5) g_bScanning = 0; };
  ScanWebFolder(ports, view);
  EXPECT_EQ(5u, pending.size());
  EXPECT_EQ("共:20\r\n查:4", view.counters[4]);
  EXPECT_EQ("开始扫描", view.caption);
}

TEST_F(WebguardChecker, ScanStopsWithProtection) {
  AddFolder(files, "C:\\w", 20);
  view.folder = "C:\\w";
  sleeper.onSleep = [](int n) { if (n == 2) g_bStopped = 1; };
  view.exists = false;  // the window went with protection
  ScanWebFolder(ports, view);
  EXPECT_EQ(2u, pending.size());
  EXPECT_EQ(1, g_bScanning.load());  // left to the window's destruction
  EXPECT_EQ("停止扫描", view.caption);
}

TEST_F(WebguardChecker, ScanWithoutFolderAsksForOne) {
  ScanWebFolder(ports, view);
  EXPECT_EQ(std::vector<std::string>{"请选择防护网站路径后再扫描!"}, view.messages);
  EXPECT_EQ(0, g_bScanning.load());
  EXPECT_TRUE(pending.empty());
  EXPECT_TRUE(view.statuses.empty());
}

TEST_F(WebguardChecker, ScannedFilesAreCheckedWhateverTheirType) {
  AddFolder(files, "C:\\w", 0, "img");
  files.folders["C:\\w\\img\\*.*"] = {{"logo.gif", false}};
  files.files["C:\\w\\img\\logo.gif"] = "GIF89a<?php system($_GET[c]); ?>";
  library.signatures = {"system($_GET["};
  view.folder = "C:\\w";
  ScanWebFolder(ports, view);
  CScriptChecker checker(ports);
  checker.CheckPendingBatch(view);
  ASSERT_EQ(1u, view.rows.size());
  EXPECT_EQ("C:\\w\\img\\logo.gif", view.rows[0].file);
}

TEST(WebguardTimeText, FormatsOfTheTwoProducers) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ("11.14 22:13:20", FormatLocalTime(1700000000, kAddedTimeFormat));
  EXPECT_EQ("23.11.14 22:13:20", FormatLocalTime(1700000000, kScannedTimeFormat));
}

}  // namespace
