// Extension rules of the watcher, reading rules of the check, the checker's rounds and the
// folder scan, against in-memory files, library, lock and window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>

#include "common/clock.h"
#include "config/settings.h"
#include "driver/driver_link.h"
#include "webguard/guard_results.h"
#include "webguard/script_checker.h"
#include "webguard/watch_types.h"
#include "webguard/bench/posix_web_files.h"

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
  std::map<std::string, std::string> files;        // by ANSI path
  std::map<std::u16string, std::string> wideFiles;  // reachable only by their UTF-16 path
  std::set<std::string> failing;                    // reading throws
  std::set<std::string> unreadable;                 // cannot be opened or read
  std::set<std::string> missing;                    // not there (and so not readable)
  std::map<std::string, std::vector<CFolderEntry>> folders;  // pattern -> entries
  size_t pieceSize = 5;  // small pieces, so that texts straddle them

  std::function<void()> onRead;
  bool ReadPieces(const CWebFile& file, const std::function<bool(const char*, size_t)>& sink) override {
    if (onRead) onRead();
    if (failing.count(file.strPath)) throw std::runtime_error("disk");
    if (unreadable.count(file.strPath) || missing.count(file.strPath)) return false;
    const std::string* bytes = nullptr;
    if (!file.wstrPath.empty()) {
      auto it = wideFiles.find(file.wstrPath);
      if (it != wideFiles.end()) bytes = &it->second;
    }
    auto it = files.find(file.strPath);
    if (!bytes && it != files.end()) bytes = &it->second;
    if (!bytes) return false;
    for (size_t at = 0; at < bytes->size(); at += pieceSize) {
      if (!sink(bytes->data() + at, std::min(pieceSize, bytes->size() - at))) break;
    }
    return true;
  }
  bool Enumerate(const CWebFile& pattern, std::vector<CFolderEntry>* entries) override {
    auto it = folders.find(pattern.strPath);
    if (it == folders.end()) return false;
    *entries = it->second;
    return true;
  }
  // ASCII paths widen byte for byte; "?" stands for a character the ANSI code page lacks.
  bool Missing(const CWebFile& file) override { return missing.count(file.strPath) > 0; }
  std::u16string WidePath(const std::string& path) override { return std::u16string(path.begin(), path.end()); }
  void AppendGbk(const char16_t* units, size_t count, std::string* out) override {
    CPosixWebFiles().AppendGbk(units, count, out);
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

// Time passes only in its sleeps (and when a test moves it).
class CFakeSleeper : public ISleeper {
 public:
  std::vector<int> sleeps;
  std::function<void(int)> onSleep;
  int64_t nowMs = 1000;
  void Sleep(int ms) override {
    sleeps.push_back(ms);
    nowMs += ms;
    if (onSleep) onSleep(static_cast<int>(sleeps.size()));
  }
  int64_t NowMs() override { return nowMs; }
};

class CFakeLock : public IWatchListLock {
 public:
  int depth = 0, taken = 0;
  std::set<int> failing;  // these takings (counted from 1) throw
  void Lock() override {
    if (failing.count(taken + 1)) {
      ++taken;
      throw std::runtime_error("lock");
    }
    ASSERT_EQ(0, depth);
    ++depth;
    ++taken;
  }
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
  // Told after each file the scan queued: gets the number of counters so far.
  std::function<void(int)> onCounter;
  void SetCounter(const std::string& text) override {
    counter = text;
    counters.push_back(text);
    if (onCounter) onCounter(static_cast<int>(counters.size()));
  }
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
  // File "a", whose content is the only signature, queued by this producer.
  void QueueSuspiciousA(const char* action) {
    library.signatures = {"x"};
    files.files["a"] = "x";
    Queue("a", action);
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

// A literal with its zero bytes.
template <size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

std::string Read(CFakeFiles& files, const std::string& path) { return ReadScriptText(files, CWebFile{path, {}}); }

// UTF-16 text with its byte-order mark.
std::string Utf16(const std::u16string& text, bool littleEndian) {
  std::string bytes = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
  for (char16_t unit : text) {
    const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
    bytes += littleEndian ? std::string{low, high} : std::string{high, low};
  }
  return bytes;
}

TEST_F(WebguardChecker, WholeContentIsReadWithCrLfFolded) {
  // Every byte counts: zero and Ctrl-Z bytes no longer end the text.
  files.files["crlf"] = "a\r\nb\rc\r";
  EXPECT_EQ("a\nb\rc\r", Read(files, "crlf"));
  files.files["ctrlz"] = "visible\x1Ahidden";
  EXPECT_EQ("visible\x1Ahidden", Read(files, "ctrlz"));
  files.files["nul"] = Bytes("front\0back");
  EXPECT_EQ(Bytes("front\0back"), Read(files, "nul"));
  // A CR LF pair split between two pieces is still one line end.
  files.files["split"] = "abcd\r\nef\r\r\nx";
  EXPECT_EQ("abcd\nef\r\nx", Read(files, "split"));
  files.files["empty"] = "";
  EXPECT_EQ("", Read(files, "empty"));
  EXPECT_EQ(" ", Read(files, "missing"));
}

TEST_F(WebguardChecker, Utf16TextIsConvertedToGbk) {
  // "<%eval 中文\r\n" in both byte orders; the second piece boundary splits a unit.
  const std::u16string text = u"<%eval \u4E2D\u6587\r\n%>";
  const std::string gbk = "<%eval \xD6\xD0\xCE\xC4\n%>";
  files.files["le"] = Utf16(text, true);
  files.files["be"] = Utf16(text, false);
  EXPECT_EQ(gbk, Read(files, "le"));
  EXPECT_EQ(gbk, Read(files, "be"));
  // A pair of surrogates (outside GBK) becomes one "?", even cut between pieces.
  files.pieceSize = 3;
  files.files["pair"] = Utf16(u"a\U0001F600b", true);
  EXPECT_EQ("a?b", Read(files, "pair"));
  // No mark: the bytes as they are.
  files.files["plain"] = "\xFFx\xFE";
  EXPECT_EQ("\xFFx\xFE", Read(files, "plain"));
  files.files["one"] = "\xFF";
  EXPECT_EQ("\xFF", Read(files, "one"));
}

TEST_F(WebguardChecker, ShellsHiddenFromTheOldReadingAreFound) {
  CScriptChecker checker(ports);
  library.signatures = {"eval($_POST[", "cmd.exe", "\xD6\xD0\xCE\xC4"};
  files.files["nul_first.php"] = Bytes("\0<?php eval($_POST['x']); ?>");
  files.files["ctrlz_first.php"] = "\x1A<?php eval($_POST['x']); ?>";
  files.files["gif.php"] = Bytes("GIF89a\x01\0\x01\0\0\0\0;<?php eval($_POST[1]);");
  files.files["utf16.aspx"] = Utf16(u"<%@ Page %><% Run(\"cmd.exe\") %>", true);
  files.files["utf16_gbk.asp"] = Utf16(u"' \u4E2D\u6587", false);
  for (const char* name : {"nul_first.php", "ctrlz_first.php", "gif.php", "utf16.aspx", "utf16_gbk.asp"}) {
    EXPECT_TRUE(checker.IsScriptSuspicious(name)) << name;
  }
  // Padding to 10 MB and more no longer hides anything: the file is streamed in pieces,
  // and a signature across a piece boundary is found.
  files.pieceSize = kReadPieceSize;
  std::string padded(kReadPieceSize * 11 - 4, ' ');
  padded += "cmd.exe";
  files.files["padded.php"] = padded;
  EXPECT_TRUE(checker.IsScriptSuspicious("padded.php"));
  files.files["clean_big.php"] = std::string(kReadPieceSize * 11, 'x');
  EXPECT_FALSE(checker.IsScriptSuspicious("clean_big.php"));
}

// UTF-32 text with its byte-order mark.
std::string Utf32(const std::u32string& text, bool littleEndian) {
  std::string bytes = littleEndian ? std::string("\xFF\xFE\0\0", 4) : std::string("\0\0\xFE\xFF", 4);
  for (char32_t point : text) {
    std::string unit(4, '\0');
    for (int k = 0; k < 4; ++k) unit[littleEndian ? k : 3 - k] = static_cast<char>(point >> (8 * k) & 0xFF);
    bytes += unit;
  }
  return bytes;
}

TEST_F(WebguardChecker, EveryByteOrderMarkInFrontOfAShellIsSeenThrough) {
  CScriptChecker checker(ports);
  // The first signature begins with the file's first character.
  library.signatures = {"<?php @eval($_POST[", "\xD6\xD0\xCE\xC4", ".exec(request", ".Arguments = Request"};
  const std::string shell = "<?php @eval($_POST[\"x\"]);?>";
  // Marks that PHP prints, followed by a shell in bytes: matched as the bytes after the mark.
  files.files["utf16le_mark.php"] = "\xFF\xFE" + shell;
  files.files["utf16be_mark.php"] = "\xFE\xFF" + shell;
  files.files["utf8_mark.php"] = "\xEF\xBB\xBF" + shell;
  files.files["utf32le_mark.php"] = std::string("\xFF\xFE\0\0", 4) + shell;
  files.files["utf32be_mark.php"] = std::string("\0\0\xFE\xFF", 4) + shell;
  // Text in the marked encoding: matched as converted text.
  files.files["utf16le.php"] = Utf16(u"<?php @eval($_POST[\"x\"]);?>", true);
  files.files["utf32le.asp"] = Utf32(U"' \u4E2D\u6587", true);
  files.files["utf32be.php"] = Utf32(U"<?php @eval($_POST[1]);", false);
  // UTF-8 characters before a signature do not swallow its first byte.
  files.files["utf8.jsp"] = "<% String \xE5\x90\x8D.exec(request.getParameter(\"c\")); %>";
  files.files["utf8.aspx"] = "p\xC3\xA9.Arguments = Request[\"c\"];";
  files.files["utf8_gbk.asp"] = "' \xE4\xB8\xAD\xE6\x96\x87";  // GBK signature written in UTF-8
  for (const char* name : {"utf16le_mark.php", "utf16be_mark.php", "utf8_mark.php", "utf32le_mark.php",
                           "utf32be_mark.php", "utf16le.php", "utf32le.asp", "utf32be.php", "utf8.jsp", "utf8.aspx",
                           "utf8_gbk.asp"}) {
    EXPECT_TRUE(checker.IsScriptSuspicious(name)) << name;
  }
  // GBK text is still read by its character starts: a trail byte never starts a match.
  files.files["gbk.php"] = "\xB0.exec(request";
  EXPECT_FALSE(checker.IsScriptSuspicious("gbk.php"));
  files.files["gbk2.php"] = "\xB0\xB0.exec(request";
  EXPECT_TRUE(checker.IsScriptSuspicious("gbk2.php"));
}

TEST_F(WebguardChecker, ViewsOfMarkedAndUnmarkedText) {
  CScriptViews views;
  files.files["u8"] = "\xEF\xBB\xBF" "a\r\n\xE4\xB8\xAD";
  ASSERT_TRUE(ReadScriptViews(files, CWebFile{"u8", {}}, &views));
  EXPECT_EQ("a\n\xE4\xB8\xAD", views.bytes);
  EXPECT_EQ("a\n\xD6\xD0", views.converted);
  // Not UTF-8 from some point on: the converted view ends there, the bytes go on.
  views = CScriptViews{};
  files.files["gbk"] = "ab\xD6\xD0" "cd";
  ASSERT_TRUE(ReadScriptViews(files, CWebFile{"gbk", {}}, &views));
  EXPECT_EQ("ab\xD6\xD0" "cd", views.bytes);
  EXPECT_EQ("ab", views.converted);
  views = CScriptViews{};
  files.files["u32"] = Utf32(U"x\U0001F600", true);
  ASSERT_TRUE(ReadScriptViews(files, CWebFile{"u32", {}}, &views));
  EXPECT_EQ("x?", views.converted);
  EXPECT_EQ(std::string("x\0\0\0\0\xF6\x01\0", 8), views.bytes);
  files.unreadable.insert("locked");
  EXPECT_FALSE(ReadScriptViews(files, CWebFile{"locked", {}}, &views));
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
  EXPECT_TRUE(checker.IsScriptSuspicious("late.asp"));
  EXPECT_TRUE(checker.IsScriptSuspicious("ctrlz.asp"));
  EXPECT_EQ(5, library.calls);  // the library is asked once per check
}

TEST_F(WebguardChecker, FilesAreOpenedByTheirUtf16Path) {
  CScriptChecker checker(ports);
  library.signatures = {"system($_GET["};
  // The ANSI form of the name (with "?") opens nothing; the UTF-16 path does.
  files.wideFiles[u"C:\\w\\\u011F.php"] = "<?php system($_GET['c']);";
  EXPECT_FALSE(checker.IsScriptSuspicious("C:\\w\\?.php"));
  EXPECT_TRUE(checker.IsScriptSuspicious(CWebFile{"C:\\w\\?.php", u"C:\\w\\\u011F.php"}));
  Queue("C:\\w\\?.php", kActionScanned);
  pending.back()->wstrFile = u"C:\\w\\\u011F.php";
  checker.CheckPendingBatch(view);
  ASSERT_EQ(1u, view.rows.size());
  EXPECT_EQ("C:\\w\\?.php", view.rows[0].file);  // the ANSI path is what the list shows
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

TEST_F(WebguardChecker, MissingLibraryOrExportIsReportedOnce) {
  CScriptChecker checker(ports);
  QueueSuspiciousA(kActionScanned);
  checker.CheckPendingBatch(view);
  EXPECT_TRUE(view.messages.empty());  // all well: nothing to tell
  library.exported = false;
  Queue("a", kActionScanned);
  checker.CheckPendingBatch(view);
  library.exported = true;
  library.loaded = false;
  Queue("a", kActionScanned);
  checker.CheckPendingBatch(view);
  EXPECT_EQ(std::vector<std::string>{"特征库scriptviruslib.dll无法使用,网站文件未能检查!"}, view.messages);
  EXPECT_EQ(1u, view.rows.size());
}

TEST_F(WebguardChecker, FailedRebuildKeepsThePreviousMatcher) {
  CScriptChecker checker(ports);
  checker.Signatures().SetByteLimit(12);
  files.files["a"] = "alpha";
  files.files["b"] = "beta-gamma";
  library.signatures = {"alp", "zzz"};
  EXPECT_TRUE(checker.IsScriptSuspicious("a"));
  // Thirteen bytes: refused, and the earlier set keeps working.
  library.signatures = {"beta-", "gamma", "ttt"};
  EXPECT_TRUE(checker.IsScriptSuspicious("a"));
  EXPECT_FALSE(checker.IsScriptSuspicious("b"));
  EXPECT_EQ((std::vector<std::string>{"alp", "zzz"}), checker.Signatures().Signatures());
  // A list within the limit is taken again.
  library.signatures = {"gamma"};
  EXPECT_TRUE(checker.IsScriptSuspicious("b"));
  EXPECT_FALSE(checker.IsScriptSuspicious("a"));
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
  // Scanned files are checked at once; uploads wait for their settle time, without sleeping.
  checker.CheckPendingBatch(view);
  EXPECT_TRUE(pending.empty());
  ASSERT_EQ(2u, view.rows.size());
  EXPECT_EQ((CRow{"1", "C:\\w\\old.php", "可疑", "23.11.14 22:13:20"}), view.rows[1]);
  EXPECT_EQ(2u, checker.WaitingCount());
  sleeper.nowMs += kUploadSettleMs - 1;
  checker.CheckPendingBatch(view);
  EXPECT_EQ(2u, view.rows.size());
  sleeper.nowMs += 1;
  checker.CheckPendingBatch(view);
  ASSERT_EQ(3u, view.rows.size());
  EXPECT_EQ((CRow{"2", "C:\\w\\up.php", "可疑", "11.14 22:13:20"}), view.rows[2]);
  EXPECT_EQ((std::vector<int>{1, 2}), view.scrolledTo);
  EXPECT_TRUE(sleeper.sleeps.empty());
  EXPECT_EQ(0u, checker.WaitingCount());
  EXPECT_EQ(0, lock.depth);
}

TEST_F(WebguardChecker, ManyUploadsWaitSideBySideAndFilesAreReadWithoutTheListLock) {
  CScriptChecker checker(ports);
  library.signatures = {"eval($_POST["};
  for (int i = 0; i < 1000; ++i) {
    const std::string path = "C:\\w\\cache" + std::to_string(i) + ".php";
    files.files[path] = "<?php echo " + std::to_string(i) + ";";
    Queue(path, kActionAdded);
  }
  int64_t shellAt = -1;
  files.files["C:\\w\\shell.php"] = "<?php eval($_POST[1]);";
  // A producer can take the list lock while any file is read.
  files.onRead = [&] { EXPECT_EQ(0, lock.depth); };
  sleeper.onSleep = [&](int) {
    if (shellAt < 0 && sleeper.nowMs >= 2000) {
      shellAt = sleeper.nowMs;
      Queue("C:\\w\\shell.php", kActionAdded);
    }
    if (!view.rows.empty()) g_bStopped = 1;
    if (sleeper.nowMs > shellAt + 60000) g_bStopped = 1;  // bound for a checker that never lists it
  };
  checker.RunFileChecker(view);
  ASSERT_EQ(1u, view.rows.size());
  EXPECT_EQ("C:\\w\\shell.php", view.rows[0].file);
  // Listed once its own notice was the settle time old, however many uploads came first.
  EXPECT_LE(sleeper.nowMs - shellAt, kUploadSettleMs + 2 * kCheckerPauseMs);
  EXPECT_GE(sleeper.nowMs - shellAt, kUploadSettleMs);
}

TEST_F(WebguardChecker, ARewrittenFileWaitsFromItsFirstNoticeAndIsCheckedOnce) {
  CScriptChecker checker(ports);
  QueueSuspiciousA(kActionAdded);
  checker.CheckPendingBatch(view);
  sleeper.nowMs += kUploadSettleMs / 2;
  Queue("a", kActionAdded);  // rewritten: the check is not put off
  checker.CheckPendingBatch(view);
  EXPECT_EQ(1u, checker.WaitingCount());
  sleeper.nowMs += kUploadSettleMs / 2;
  checker.CheckPendingBatch(view);
  EXPECT_EQ(1u, view.rows.size());
  EXPECT_EQ(0u, checker.WaitingCount());
}

class CSilentWindow : public IGuardWindow {
 public:
  bool Changed() override { return true; }
  void Message(const std::string&) override {}
  bool Exists() override { return true; }
};

TEST_F(WebguardChecker, OneRowPerPathUntilTheAdministratorClearsTheList) {
  CScriptChecker checker(ports);
  CGuardResults results(std::make_unique<CSilentWindow>());
  library.signatures = {"eval($_POST["};
  files.files["s.php"] = "<?php eval($_POST[1]);";
  // Rewritten with the same content again and again (a template cache, or an attacker after
  // the administrator's SMS balance): one row, so one alert.
  for (int i = 0; i < 5; ++i) {
    Queue("s.php", kActionScanned);
    checker.CheckPendingBatch(results);
  }
  EXPECT_EQ(1u, results.Rows().size());
  // A content that keeps changing (a .php log an outsider writes to) adds none either.
  for (int i = 0; i < 5; ++i) {
    files.files["s.php"] = "<?php eval($_POST[" + std::to_string(i + 2) + "]); // " + std::to_string(i);
    Queue("s.php", kActionScanned);
    checker.CheckPendingBatch(results);
    sleeper.nowMs += 60 * 1000;
  }
  EXPECT_EQ(1u, results.Rows().size());
  // The log takes the list: the path stays quiet for an hour from its row, then may come back.
  results.RemoveFirst(1);
  Queue("s.php", kActionScanned);
  checker.CheckPendingBatch(results);
  EXPECT_EQ(0u, results.Rows().size());
  sleeper.nowMs += kRowQuietMs;
  Queue("s.php", kActionScanned);
  checker.CheckPendingBatch(results);
  EXPECT_EQ(1u, results.Rows().size());
  // Another kind of row of the same path is its own; the administrator's clearing lets the
  // path be listed again at once.
  files.unreadable.insert("s.php");
  Queue("s.php", kActionScanned);
  checker.CheckPendingBatch(results);
  ASSERT_EQ(2u, results.Rows().size());
  EXPECT_EQ("无法读取", results.Rows()[1].strType);
  files.unreadable.clear();
  results.ClearFirst(2);
  Queue("s.php", kActionScanned);
  sleeper.nowMs += kUploadSettleMs;
  checker.CheckPendingBatch(results);
  ASSERT_EQ(1u, results.Rows().size());
  EXPECT_EQ("可疑", results.Rows()[0].strType);
}

TEST_F(WebguardChecker, AFileGoneBeforeItsCheckIsDeletedNotUnreadable) {
  std::vector<std::string> logs;
  ports.log = [&](const std::string& text) { logs.push_back(text); };
  files.missing.insert("C:\\w\\tmp.php");
  CScriptChecker checker(ports);
  CGuardResults results(std::make_unique<CSilentWindow>());
  library.signatures = {"x"};
  Queue("C:\\w\\tmp.php", kActionAdded, "11.14 22:13:20");
  checker.CheckPendingBatch(results);
  sleeper.nowMs += kUploadSettleMs;
  checker.CheckPendingBatch(results);
  sleeper.nowMs += kUploadSettleMs;
  checker.CheckPendingBatch(results);
  ASSERT_EQ(1u, results.Rows().size());
  EXPECT_EQ("已删除", results.Rows()[0].strType);
  // Not tried again; one log line.
  EXPECT_EQ(0u, checker.WaitingCount());
  ASSERT_EQ(1u, logs.size());
  EXPECT_EQ("-  C:\\w\\tmp.php  已删除  23.11.14 22:13:20 \r\n ", logs[0]);
  uint64_t digest = 0;
  EXPECT_EQ(CheckOutcome::kGone, checker.CheckFile(CWebFile{"C:\\w\\tmp.php", {}}, &digest));
}

TEST_F(WebguardChecker, UnreadableFilesGetARowALogLineAndRetries) {
  std::vector<std::string> logs;
  ports.log = [&](const std::string& text) { logs.push_back(text); };
  CScriptChecker checker(ports);
  CGuardResults results(std::make_unique<CSilentWindow>());
  library.signatures = {"eval($_POST["};
  files.unreadable.insert("C:\\w\\locked.php");
  files.files["C:\\w\\locked.php"] = "<?php eval($_POST[1]);";
  Queue("C:\\w\\locked.php", kActionAdded, "11.14 22:13:20");
  checker.CheckPendingBatch(results);
  sleeper.nowMs += kUploadSettleMs;
  checker.CheckPendingBatch(results);
  ASSERT_EQ(1u, results.Rows().size());
  EXPECT_EQ("无法读取", results.Rows()[0].strType);
  EXPECT_EQ("11.14 22:13:20", results.Rows()[0].strTime);
  ASSERT_EQ(1u, logs.size());
  EXPECT_EQ("-  C:\\w\\locked.php  无法读取  23.11.14 22:13:20 \r\n ", logs[0]);
  // Tried again a settle time later, told no more; once readable, checked as any file.
  EXPECT_EQ(1u, checker.WaitingCount());
  sleeper.nowMs += kUploadSettleMs;
  checker.CheckPendingBatch(results);
  EXPECT_EQ(1u, results.Rows().size());
  EXPECT_EQ(1u, logs.size());
  files.unreadable.clear();
  sleeper.nowMs += kUploadSettleMs;
  checker.CheckPendingBatch(results);
  ASSERT_EQ(2u, results.Rows().size());
  EXPECT_EQ("可疑", results.Rows()[1].strType);
  EXPECT_EQ(0u, checker.WaitingCount());
  // The tries end: a file that stays unreadable is not tried for ever.
  files.unreadable.insert("C:\\w\\stuck.php");
  Queue("C:\\w\\stuck.php", kActionScanned);
  for (int i = 0; i <= kUnreadableRetries + 2; ++i) {
    checker.CheckPendingBatch(results);
    sleeper.nowMs += kUploadSettleMs;
  }
  EXPECT_EQ(0u, checker.WaitingCount());
  EXPECT_EQ(3u, results.Rows().size());
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

TEST_F(WebguardChecker, AFailureOutsideAFilesCheckRestartsTheCheckerAndIsToldOnce) {
  std::vector<std::string> logs;
  ports.log = [&](const std::string& text) { logs.push_back(text); };
  CScriptChecker checker(ports);
  library.signatures = {"x"};
  files.files["a"] = "x";
  Queue("a", kActionScanned);
  lock.failing = {1, 2};  // the first two rounds fail before any file
  sleeper.onSleep = [&](int n) {
    if (n == 4) g_bStopped = 1;
  };
  EXPECT_NO_THROW(checker.RunFileChecker(view));
  ASSERT_EQ(1u, view.rows.size());
  EXPECT_EQ(std::vector<std::string>{kCheckerRestartedMessage}, view.messages);
  ASSERT_EQ(1u, logs.size());
  EXPECT_NE(std::string::npos, logs[0].find(kCheckerRestartedMessage));
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

TEST_F(WebguardChecker, StopTokenEndsTheCheckerAndLeavesTheRestForTheNext) {
  std::atomic<bool> stop{false};
  ports.stop = &stop;
  CScriptChecker checker(ports);
  library.signatures = {"x"};
  files.files["a"] = "x";
  files.files["b"] = "x";
  files.files["c"] = "x";
  Queue("a", kActionScanned);
  Queue("b", kActionAdded);
  Queue("c", kActionScanned);
  sleeper.onSleep = [&](int n) {
    if (n == 1) stop = true;  // the host goes while b waits for its settle time
    if (n == 10) g_bStopped = 1;  // bound for a checker that would not stop
  };
  checker.RunFileChecker(view);
  ASSERT_EQ(2u, view.rows.size());
  EXPECT_EQ("a", view.rows[0].file);
  ASSERT_EQ(1u, pending.size());  // b waits for the next checker
  EXPECT_EQ("b", pending[0]->strFile);
  EXPECT_EQ(1u, sleeper.sleeps.size());
  EXPECT_EQ(0, lock.depth);
  // Stopped in the middle of a round: what was not checked goes back, in its order.
  stop = false;
  Queue("d", kActionScanned);
  files.files["d"] = "x";
  CScriptChecker next(ports);
  files.onRead = [&] { stop = true; };
  sleeper.nowMs += kUploadSettleMs;
  next.CheckPendingBatch(view);
  EXPECT_EQ(2u, view.rows.size());  // the file read when the token came is not listed
  ASSERT_EQ(2u, pending.size());
  EXPECT_EQ("d", pending[0]->strFile);
  EXPECT_EQ("b", pending[1]->strFile);
}

// ---- folder scan ----

void AddFolder(CFakeFiles& files, const std::string& folder, int count, const std::string& sub = "") {
  auto& entries = files.folders[folder + "\\*.*"];
  entries.push_back({".", true});
  entries.push_back({"..", true});
  for (int i = 0; i < count; ++i) entries.push_back({"f" + std::to_string(i) + ".txt", false});
  if (!sub.empty()) entries.push_back({sub, true});
}

std::vector<std::string> Paths(const std::vector<CWebFile>& files) {
  std::vector<std::string> paths;
  for (const CWebFile& f : files) paths.push_back(f.strPath);
  return paths;
}

// What the checker sleeps on when idle, and what the producers signal.
class CFakeWake : public IWakeSignal {
 public:
  std::vector<std::string> calls;  // "arm", "signal", "wait <ms>", in order
  std::function<void(int)> onWait;  // gets the number of waits so far
  int waits = 0;
  void Arm() override { calls.push_back("arm"); }
  void Signal() override { calls.push_back("signal"); }
  void Wait(int ms) override {
    calls.push_back("wait " + std::to_string(ms));
    if (onWait) onWait(++waits);
  }
};

TEST_F(WebguardChecker, IdleCheckerSleepsOnTheWakeSignalAndProducersSignalIt) {
  CFakeWake wake;
  ports.wake = &wake;
  CScriptChecker checker(ports);
  library.signatures = {"x"};
  files.files["a"] = "x";
  // Idle twice, then a file arrives (its producer signals), then protection stops.
  wake.onWait = [&](int n) {
    if (n == 2) Queue("a", kActionScanned);
    if (n == 3) g_bStopped = 1;
  };
  checker.RunFileChecker(view);
  ASSERT_EQ(1u, view.rows.size());
  const std::string idle = "wait " + std::to_string(kCheckerIdleWaitMs);
  // Armed before every look; the round with a file pauses 30 ms as before, idle rounds never poll.
  EXPECT_EQ((std::vector<std::string>{"arm", idle, "arm", idle, "arm", "arm", idle}), wake.calls);
  EXPECT_EQ(std::vector<int>{kCheckerPauseMs}, sleeper.sleeps);

  // The folder scan signals once per queued file.
  wake.calls.clear();
  g_bStopped = 0;
  AddFolder(files, "C:\\w", 3);
  view.folder = "C:\\w";
  ScanWebFolder(ports, view);
  EXPECT_EQ(3u, pending.size());
  EXPECT_EQ(std::vector<std::string>(3, "signal"), wake.calls);
}

TEST_F(WebguardChecker, ListingIsDepthFirstInTheSystemsOrder) {
  files.folders["C:\\w\\*.*"] = {{".", true}, {"..", true}, {"a.php", false}, {"sub", true},
                                 {"z.asp", false}};
  files.folders["C:\\w\\sub\\*.*"] = {{"inner.jsp", false}, {"deeper", true}};
  files.folders["C:\\w\\sub\\deeper\\*.*"] = {{"x", false}};
  std::vector<CWebFile> list;
  ListFilesRecursive(files, CWebFile{"C:\\w\\", {}}, &list);
  EXPECT_EQ((std::vector<std::string>{"C:\\w\\a.php", "C:\\w\\sub\\inner.jsp",
                                      "C:\\w\\sub\\deeper\\x", "C:\\w\\z.asp"}),
            Paths(list));
  list.clear();
  ListFilesRecursive(files, CWebFile{"C:\\w", {}}, &list);
  EXPECT_EQ(4u, list.size());
  list.clear();
  ListFilesRecursive(files, CWebFile{"C:\\missing", {}}, &list);
  EXPECT_TRUE(list.empty());
  // A junction or link may lead out of the site or back into itself: it is never entered.
  CFolderEntry link("loop", true);
  link.bReparsePoint = true;
  files.folders["C:\\w\\sub\\*.*"].push_back(link);
  files.folders["C:\\w\\sub\\loop\\*.*"] = {{"outside.php", false}};
  list.clear();
  ListFilesRecursive(files, CWebFile{"C:\\w", {}}, &list);
  EXPECT_EQ(4u, list.size());
}

TEST_F(WebguardChecker, ListingKeepsTheSystemsUtf16Names) {
  CFolderEntry odd{"?.php", false, u"\u011F.php"};
  CFolderEntry sub{"\xD6\xD0", true, u"\u4E2D"};
  files.folders["C:\\w\\*.*"] = {odd, sub, {"ansi_only.php", false}};
  files.folders["C:\\w\\\xD6\xD0\\*.*"] = {{"x.asp", false, u"x.asp"}};
  std::vector<CWebFile> list;
  ListFilesRecursive(files, CWebFile{"C:\\w", u"C:\\w"}, &list);
  ASSERT_EQ(3u, list.size());
  EXPECT_EQ("C:\\w\\?.php", list[0].strPath);
  EXPECT_EQ(u"C:\\w\\\u011F.php", list[0].wstrPath);
  EXPECT_EQ(u"C:\\w\\\u4E2D\\x.asp", list[1].wstrPath);
  EXPECT_EQ(u"", list[2].wstrPath);  // no UTF-16 name given: opened by the ANSI path
  // The scan queues both forms, and the checker opens the UTF-16 one.
  files.wideFiles[u"C:\\w\\\u011F.php"] = "<?php eval($_POST[0]);";
  files.wideFiles[u"C:\\w\\\u4E2D\\x.asp"] = "<% ok %>";
  files.files["C:\\w\\ansi_only.php"] = "<?php echo 1;";
  library.signatures = {"eval($_POST["};
  view.folder = "C:\\w";
  ScanWebFolder(ports, view);
  ASSERT_EQ(3u, pending.size());
  EXPECT_EQ(u"C:\\w\\\u011F.php", pending[0]->wstrFile);
  CScriptChecker(ports).CheckPendingBatch(view);
  ASSERT_EQ(1u, view.rows.size());
  EXPECT_EQ("C:\\w\\?.php", view.rows[0].file);
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
  // No pause between files: the scan's thread runs at background priority instead.
  EXPECT_TRUE(sleeper.sleeps.empty());
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

TEST_F(WebguardChecker, TheBacklogIsBoundedAndAScanWaitsForRoom) {
  // The checker takes over at most the bound; the rest waits in the list, in order.
  CScriptChecker checker(ports);
  for (size_t i = 0; i < kMaxPendingFiles + 10; ++i) Queue("u" + std::to_string(i) + ".php", kActionAdded);
  checker.CheckPendingBatch(view);
  EXPECT_EQ(kMaxPendingFiles, checker.WaitingCount());
  ASSERT_EQ(10u, pending.size());
  EXPECT_EQ("u" + std::to_string(kMaxPendingFiles) + ".php", pending[0]->strFile);
  // A scan that finds the list full waits until the checker has taken files over.
  pending.clear();
  for (size_t i = 0; i < kMaxPendingFiles; ++i) Queue("w" + std::to_string(i), kActionScanned);
  sleeper.onSleep = [&](int n) {
    if (n == 2) pending.clear();
  };
  AddFolder(files, "C:\\s", 3);
  view.folder = "C:\\s";
  ScanWebFolder(ports, view);
  EXPECT_EQ((std::vector<int>{kScanRoomWaitMs, kScanRoomWaitMs}), sleeper.sleeps);
  ASSERT_EQ(3u, pending.size());
  EXPECT_EQ("C:\\s\\f2.txt", pending[2]->strFile);
}

TEST_F(WebguardChecker, ScanAndScannedFilesRunInBackgroundModeUploadsDoNot) {
  std::vector<bool> modes;
  ports.background = [&](bool on) { modes.push_back(on); };
  CScriptChecker checker(ports);
  library.signatures = {"x"};
  files.files["s1"] = files.files["s2"] = files.files["u"] = "x";
  Queue("s1", kActionScanned);
  Queue("s2", kActionScanned);
  Queue("u", kActionAdded);
  checker.CheckPendingBatch(view);
  EXPECT_EQ(std::vector<bool>{true}, modes);
  sleeper.nowMs += kUploadSettleMs;
  checker.CheckPendingBatch(view);
  EXPECT_EQ((std::vector<bool>{true, false}), modes);
  EXPECT_EQ(3u, view.rows.size());
  AddFolder(files, "C:\\w", 2);
  view.folder = "C:\\w";
  ScanWebFolder(ports, view);
  EXPECT_EQ((std::vector<bool>{true, false, true}), modes);
}

TEST_F(WebguardChecker, ScanStopsAfterTheCurrentFileWhenTheButtonIsPressedAgain) {
  AddFolder(files, "C:\\w", 20);
  view.folder = "C:\\w";
  view.onCounter = [](int n) { if (n == 5) g_bScanning = 0; };
  ScanWebFolder(ports, view);
  EXPECT_EQ(5u, pending.size());
  EXPECT_EQ("共:20\r\n查:4", view.counters[4]);
  EXPECT_EQ("开始扫描", view.caption);
}

TEST_F(WebguardChecker, ScanStopsWithProtection) {
  AddFolder(files, "C:\\w", 20);
  view.folder = "C:\\w";
  view.onCounter = [](int n) { if (n == 2) g_bStopped = 1; };
  view.exists = false;  // the window went with protection
  ScanWebFolder(ports, view);
  EXPECT_EQ(2u, pending.size());
  EXPECT_EQ(1, g_bScanning.load());  // left to the window's destruction
  EXPECT_EQ("停止扫描", view.caption);
}

TEST_F(WebguardChecker, ScanOfAGoneHostLeavesTheFlagAndControlsAlone) {
  AddFolder(files, "C:\\w", 20);
  view.folder = "C:\\w";
  std::atomic<bool> stop{false};
  ports.stop = &stop;
  view.onCounter = [&](int n) { if (n == 3) stop = true; };
  ScanWebFolder(ports, view);
  EXPECT_EQ(3u, pending.size());
  EXPECT_EQ(1, g_bScanning.load());  // a newer host's scan may own it now
  EXPECT_EQ("停止扫描", view.caption);
  EXPECT_EQ((std::vector<int>{0, 1, 2}), view.positions);  // not put back to 0
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
