// The dated log files over an in-memory file system with a settable local clock.
#include "config/daily_log.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

// Local 2012-05-03 00:00:00, counted like time().
constexpr int64_t kMay3 = 1336003200;
constexpr int64_t kDay = 86400;

class CMemoryLogFiles : public ILogFileSystem {
 public:
  struct CFile {
    std::string bytes;
    int64_t written = 0;
    bool unreadableTime = false;
  };
  std::set<std::string> folders{"."};
  std::map<std::string, CFile> files;
  std::set<std::string> unreadableFolders;
  std::set<std::string> links;  // junctions and symbolic links (reparse points)
  std::set<std::string> listed;
  bool failWrites = false;
  int64_t now = kMay3;

  bool IsDirectory(const std::string& path) override { return folders.count(path) != 0; }
  bool CreateFolder(const std::string& path) override {
    if (failWrites) return false;
    folders.insert(path);
    return true;
  }
  bool AppendToFile(const std::string& path, const std::string& bytes) override {
    if (failWrites || !folders.count(Parent(path))) return false;
    files[path].bytes += bytes;
    files[path].written = now;
    return true;
  }
  bool ListFolder(const std::string& folder, std::vector<CFolderEntry>& entries) override {
    const std::string f = Trim(folder);
    if (!folders.count(f) || unreadableFolders.count(f)) return false;
    listed.insert(f);
    entries = {{".", true}, {"..", true}};
    auto add = [&](const std::string& path, bool directory) {
      CFolderEntry entry(path.substr(f.size() + 1), directory);
      entry.bReparsePoint = links.count(path) != 0;
      entries.push_back(entry);
    };
    for (const auto& d : folders)
      if (Parent(d) == f && d != f) add(d, true);
    for (const auto& kv : files)
      if (Parent(kv.first) == f) add(kv.first, false);
    return true;
  }
  bool LastWriteLocal(const std::string& path, int64_t& seconds) override {
    auto it = files.find(path);
    if (it == files.end() || it->second.unreadableTime) return false;
    seconds = it->second.written;
    return true;
  }
  bool RemoveFile(const std::string& path) override { return files.erase(path) != 0; }
  bool IsReparsePoint(const std::string& path) override { return links.count(Trim(path)) != 0; }
  int64_t LocalNow() override { return now; }

  void AddFile(const std::string& path, int64_t age) {
    for (std::string p = Parent(path); !p.empty() && p != "."; p = Parent(p)) folders.insert(p);
    files[path].written = now - age;
  }

 private:
  static std::string Trim(const std::string& path) {
    return !path.empty() && path.back() == '\\' ? path.substr(0, path.size() - 1) : path;
  }
  static std::string Parent(const std::string& path) {
    const size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
  }
};

TEST(LogFileName, PrefixLocalDateAndTxt) {
  EXPECT_EQ("vr2012_05_03.txt", LogFileName("vr", kMay3));
  EXPECT_EQ("vr2012_05_03.txt", LogFileName("vr", kMay3 + kDay - 1));
  EXPECT_EQ("vr2012_05_04.txt", LogFileName("vr", kMay3 + kDay));
  EXPECT_EQ("x2000_02_29.txt", LogFileName("x", 951782400));
  EXPECT_EQ("vr1969_12_31.txt", LogFileName("vr", -1));
  EXPECT_EQ("vr2038_01_19.txt", LogFileName("vr", 2147483647));
}

TEST(AppendLog, SameDayAppendsAndMidnightStartsTheNextFile) {
  CMemoryLogFiles fs;
  fs.now = kMay3 + kDay - 2;  // 23:59:58
  AppendLog(fs, "a  b  c  d \r\n ", kLogFolder, kWatchLogPrefix);
  EXPECT_TRUE(fs.folders.count(".\\log"));
  fs.now += 1;
  AppendLog(fs, "e", kLogFolder, kWatchLogPrefix);
  fs.now += 1;  // midnight
  AppendLog(fs, "f", kLogFolder, kWatchLogPrefix);
  ASSERT_EQ(2u, fs.files.size());
  EXPECT_EQ("a  b  c  d \r\n e", fs.files[".\\log\\vr2012_05_03.txt"].bytes);
  EXPECT_EQ("f", fs.files[".\\log\\vr2012_05_04.txt"].bytes);
}

TEST(AppendLog, FailuresAreSwallowed) {
  CMemoryLogFiles fs;
  fs.failWrites = true;
  AppendLog(fs, "lost", kLogFolder, kWatchLogPrefix);
  EXPECT_TRUE(fs.files.empty());
  EXPECT_FALSE(fs.folders.count(".\\log"));
}

TEST(FileAgeDays, WholeDaysTruncatedAndZeroWhenUnreadable) {
  CMemoryLogFiles fs;
  fs.AddFile("log\\a.txt", 90 * kDay - 3600);
  fs.AddFile("log\\b.txt", 90 * kDay);
  fs.AddFile("log\\c.txt", -kDay - 5);  // written "tomorrow"
  fs.AddFile("log\\d.txt", 400 * kDay);
  fs.files["log\\d.txt"].unreadableTime = true;
  EXPECT_EQ(89, FileAgeDays(fs, "log\\a.txt"));
  EXPECT_EQ(90, FileAgeDays(fs, "log\\b.txt"));
  EXPECT_EQ(-1, FileAgeDays(fs, "log\\c.txt"));
  EXPECT_EQ(0, FileAgeDays(fs, "log\\d.txt"));
  EXPECT_EQ(0, FileAgeDays(fs, "log\\missing.txt"));
}

TEST(DeleteOldFiles, AgeBoundaryAndSubFolders) {
  CMemoryLogFiles fs;
  fs.AddFile("app\\log\\kept.txt", 90 * kDay - 3600);   // 89 days 23 hours
  fs.AddFile("app\\log\\gone.txt", 90 * kDay);
  fs.AddFile("app\\log\\old\\gone.txt", 200 * kDay);
  fs.AddFile("app\\log\\old\\deeper\\kept.txt", kDay);
  fs.AddFile("app\\log\\.svn\\entries", 300 * kDay);   // dot-folders are not entered
  fs.AddFile("app\\log\\notime.txt", 300 * kDay);
  fs.files["app\\log\\notime.txt"].unreadableTime = true;
  fs.AddFile("app\\other.txt", 300 * kDay);            // outside the log folder

  DeleteOldFiles(fs, LogCleanupFolder("app"), 90);
  std::set<std::string> left;
  for (const auto& kv : fs.files) left.insert(kv.first);
  EXPECT_EQ((std::set<std::string>{"app\\log\\kept.txt", "app\\log\\old\\deeper\\kept.txt",
                                   "app\\log\\.svn\\entries", "app\\log\\notime.txt", "app\\other.txt"}),
            left);
  EXPECT_FALSE(fs.listed.count("app\\log\\.svn"));
  EXPECT_TRUE(fs.listed.count("app\\log\\old\\deeper"));
}

TEST(DeleteOldFiles, ZeroDaysDeletesEveryFileEvenFreshOnes) {
  CMemoryLogFiles fs;
  fs.AddFile("log\\today.txt", 0);
  fs.AddFile("log\\sub\\notime.txt", 0);
  fs.files["log\\sub\\notime.txt"].unreadableTime = true;
  fs.AddFile("log\\.hidden\\x.txt", 0);
  DeleteOldFiles(fs, "log", 0);
  ASSERT_EQ(1u, fs.files.size());
  EXPECT_EQ("log\\.hidden\\x.txt", fs.files.begin()->first);
}

TEST(DeleteOldFiles, UnreadableFolderIsPassedOver) {
  CMemoryLogFiles fs;
  fs.AddFile("log\\locked\\old.txt", 500 * kDay);
  fs.AddFile("log\\old.txt", 500 * kDay);
  fs.unreadableFolders.insert("log\\locked");
  DeleteOldFiles(fs, "log", 90);
  EXPECT_EQ(1u, fs.files.size());
  EXPECT_EQ(1u, fs.files.count("log\\locked\\old.txt"));
  DeleteOldFiles(fs, "nowhere", 0);  // a missing folder is no error
}

TEST(DeleteOldFiles, JunctionsAndLinksAreNeitherEnteredNorDeleted) {
  CMemoryLogFiles fs;
  fs.AddFile("log\\old.txt", 500 * kDay);
  fs.AddFile("log\\junction\\system.dll", 500 * kDay);  // what a junction to C:\Windows shows
  fs.AddFile("log\\sub\\link.txt", 500 * kDay);
  fs.links = {"log\\junction", "log\\sub\\link.txt"};
  DeleteOldFiles(fs, "log", 0);
  std::set<std::string> left;
  for (const auto& kv : fs.files) left.insert(kv.first);
  EXPECT_EQ((std::set<std::string>{"log\\junction\\system.dll", "log\\sub\\link.txt"}), left);
  EXPECT_FALSE(fs.listed.count("log\\junction"));
  EXPECT_TRUE(fs.listed.count("log\\sub"));
}

// The log folder itself replaced by a junction (to the system folder, say): nothing in it is
// deleted nor written, and a note beside it says why; a link where the note would go is not
// written through either.
TEST(DeleteOldFiles, ALogFolderThatIsItselfAJunctionIsLeftAlone) {
  CMemoryLogFiles fs;
  fs.AddFile("app\\log\\system.dll", 500 * kDay);
  fs.AddFile("app\\log\\sub\\old.txt", 500 * kDay);
  fs.links = {"app\\log"};
  fs.now = kMay3 + 3723;
  DeleteOldFiles(fs, LogCleanupFolder("app"), 0);
  EXPECT_EQ(1u, fs.files.count("app\\log\\system.dll"));
  EXPECT_EQ(1u, fs.files.count("app\\log\\sub\\old.txt"));
  EXPECT_TRUE(fs.listed.empty());
  EXPECT_EQ(0u, fs.files.count("app\\log\\cfg2012_05_03.txt"));
  EXPECT_EQ(3u, fs.files.size());
  const std::string note = "app\\cfg2012_05_03.txt";
  ASSERT_EQ(1u, fs.files.count(note));
  EXPECT_EQ("01:02:03 app\\log\\是联接或符号链接,未清理旧日志\r\n", fs.files[note].bytes);

  fs.files.erase(note);
  fs.links.insert(note);
  DeleteOldFiles(fs, LogCleanupFolder("app"), 0);
  EXPECT_EQ(2u, fs.files.size());
}

TEST(WatchLog, WrittenOnTheRowAfterTheThreshold) {
  EXPECT_FALSE(WatchLogDue(28, 28));
  EXPECT_TRUE(WatchLogDue(29, 28));
  EXPECT_FALSE(WatchLogDue(0, 0));
  EXPECT_TRUE(WatchLogDue(1, 0));
  EXPECT_TRUE(WatchLogDue(0, -1));
}

TEST(WatchLog, FourCellsPerRowAndEveryLaterLineStartsWithABlank) {
  const std::vector<std::vector<std::string>> rows = {
      {"1", "D:\\www\\a.asp", "新增", "2012-05-03 10:00:00", "ignored"},
      {"2", "D:\\www\\b.php", "修改", "2012-05-03 10:00:01"},
  };
  EXPECT_EQ("1  D:\\www\\a.asp  新增  2012-05-03 10:00:00 \r\n "
            "2  D:\\www\\b.php  修改  2012-05-03 10:00:01 \r\n ",
            WatchLogText(rows));
  EXPECT_EQ("", WatchLogText({}));
  EXPECT_EQ("x" + std::string(3 * 2, ' ') + " \r\n ", WatchLogText({{"x"}}));  // missing cells are empty
}

TEST(WatchLog, LongCellsAreCutTo99BytesWithoutSplittingACharacter) {
  const std::string ascii(150, 'a');
  EXPECT_EQ(std::string(99, 'a') + "  b  c  d \r\n ", WatchLogText({{ascii, "b", "c", "d"}}));
  // 98 ASCII bytes then a double-byte character: the character would end at byte 100.
  const std::string mixed = std::string(98, 'a') + "网站";
  EXPECT_EQ(std::string(98, 'a') + "  b  c  d \r\n ", WatchLogText({{mixed, "b", "c", "d"}}));
  const std::string wide = std::string(97, 'a') + "网";
  EXPECT_EQ(wide + "  b  c  d \r\n ", WatchLogText({{wide + "x", "b", "c", "d"}}));
}

}  // namespace
