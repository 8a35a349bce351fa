// The FTP log follower over folders in memory: which file is current, what it reads of it, when
// it lists the folder, and files that rotate, roll over, shrink and end in half-written lines.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "logonguard/log_follower.h"

#include "gbk_converter_fake.h"

namespace {

const char kHeader[] =
    "#Software: Microsoft Internet Information Services 10.0\r\n#Version: 1.0\r\n#Date: 2026-12-08 00:00:00\r\n"
    "#Fields: date time c-ip c-port cs-username s-ip s-port cs-method cs-uri-stem sc-status sc-win32-status "
    "sc-substatus x-session x-fullpath\r\n";

std::string Line(const std::string& ip, const std::string& user = "a", const std::string& status = "530") {
  return "2026-12-08 01:02:03 " + ip + " 50123 " + user + " 192.0.2.10 21 PASS - " + status + " 1326 41 5a8e0c2d-1 -\r\n";
}

// Files of folder "F" with a write time that grows at every write; names made, removed or renamed
// are told as a folder change, as a change notification would.
class CMemoryLogFiles : public ILogFilePort {
 public:
  struct CFile {
    std::string bytes;
    uint64_t written = 0;
  };
  bool ListLogFiles(const std::string& folder, const std::function<bool(const CLogFileEntry&)>& take) override {
    ++listings;
    if (!bFolderThere) return false;
    for (size_t i = 0; i < extraNames; ++i)
      if (!take({"u_ex" + std::to_string(100000 + i) + ".log", 1})) return true;
    for (const auto& file : files)
      if (folder == "F" && !take({file.first, file.second.written})) return true;
    return true;
  }
  bool FileSize(const std::string& folder, const std::string& name, uint64_t& size) override {
    auto it = files.find(name);
    if (folder != "F" || (it == files.end() && extraNames == 0)) return false;
    size = it == files.end() ? 0 : it->second.bytes.size();  // the extra names are empty files
    return true;
  }
  bool ReadAt(const std::string& folder, const std::string& name, uint64_t offset, size_t maxBytes,
              std::string& out) override {
    auto it = files.find(name);
    if (folder != "F" || (it == files.end() && extraNames == 0) || bReadFails) return false;
    out.clear();
    if (it != files.end() && offset < it->second.bytes.size()) out = it->second.bytes.substr(offset, maxBytes);
    bytesRead += out.size();
    return true;
  }
  EFolderChange FolderChange(const std::string&) override {
    if (bBlind) return EFolderChange::kUnknown;
    const bool was = bChanged;
    bChanged = false;
    return was ? EFolderChange::kChanged : EFolderChange::kNone;
  }

  void Write(const std::string& name, std::string bytes) {
    bChanged = bChanged || files.count(name) == 0;
    files[name] = {std::move(bytes), ++tClock};
  }
  void Append(const std::string& name, const std::string& bytes) {
    bChanged = bChanged || files.count(name) == 0;
    files[name].bytes += bytes;
    files[name].written = ++tClock;
  }
  void Remove(const std::string& name) {
    files.erase(name);
    bChanged = true;
  }

  std::map<std::string, CFile> files;
  uint64_t tClock = 0;
  size_t extraNames = 0;  // more names (empty files) before the files, all written long ago
  bool bFolderThere = true;
  bool bReadFails = false;
  bool bBlind = false;    // no change notification on this folder
  bool bChanged = true;   // the first question about a folder answers kChanged
  int listings = 0;
  uint64_t bytesRead = 0;
};

class LogFollowerTest : public ::testing::Test {
 protected:
  std::vector<std::string> Poll(EFollowState expected = EFollowState::kWatching) {
    std::vector<std::string> seen;
    EXPECT_EQ(follower.Poll([&](const CLogonEvent& e) { seen.push_back(e.strAddress); }), expected);
    return seen;
  }
  using Seen = std::vector<std::string>;
  CMemoryLogFiles files;
  CLogFollower follower{files, "F"};
};

TEST_F(LogFollowerTest, StartsAtTheEndThenReadsWhatIsAppended) {
  files.Write("u_ex261208.log", std::string(kHeader) + Line("203.0.113.1", "old"));
  EXPECT_TRUE(Poll().empty());  // history before the start is not blocked again
  files.Append("u_ex261208.log", Line("203.0.113.2") + "2026-12-08 01:02:03 203.0.113.3 1 a");
  EXPECT_EQ(Poll(), Seen{"203.0.113.2"});
  files.Append("u_ex261208.log", " 192.0.2.10 21 PASS - 530 1326 41 s -\r\n");  // the partial line completes
  EXPECT_EQ(Poll(), Seen{"203.0.113.3"});
  EXPECT_TRUE(Poll().empty());
}

// A 64 MB day's file at the start: its head gives the columns, its tail a later header (IIS
// writes one again after a restart), and the rest is never read.
TEST_F(LogFollowerTest, ALargeFileIsFollowedFromItsEndWithOnlyItsHeadAndTailRead) {
  std::string log = kHeader;
  const std::string old = Line("198.51.100.1");
  log.reserve(64u << 20);
  while (log.size() < (64u << 20) - 4096) log += old;
  log += "#Software: Microsoft Internet Information Services 10.0\r\n#Fields: c-ip cs-username cs-method sc-status\r\n";
  log += "198.51.100.2 a PASS 530\r\n198.51.100.3 a PA";  // history, the last line half-written
  files.Write("u_ex261208.log", std::move(log));

  EXPECT_TRUE(Poll().empty());
  EXPECT_LE(files.bytesRead, CLogFollower::kHeadBytes + CLogFollower::kTailBytes + 1);
  files.Append("u_ex261208.log", "SS 530\r\n203.0.113.5 b PASS 530\r\n");
  EXPECT_EQ(Poll(), (Seen{"198.51.100.3", "203.0.113.5"}));
  EXPECT_LE(files.bytesRead, CLogFollower::kHeadBytes + CLogFollower::kTailBytes + 100);
  EXPECT_EQ(files.listings, 1);

  // The same at a folder's first file made after the start: that one is read whole, from its start.
  CMemoryLogFiles small;
  CLogFollower fresh(small, "F");
  std::vector<std::string> seen;
  const auto poll = [&] { fresh.Poll([&](const CLogonEvent& e) { seen.push_back(e.strAddress); }); };
  poll();
  small.Write("u_ex261208.log", std::string(kHeader) + Line("203.0.113.6"));
  poll();
  EXPECT_EQ(seen, Seen{"203.0.113.6"});
}

TEST_F(LogFollowerTest, RotationFinishesTheOldDayThenReadsTheNewOneFromItsStart) {
  files.Write("u_ex261208.log", kHeader);
  Poll();
  files.Append("u_ex261208.log", Line("203.0.113.10"));
  files.Write("u_ex261209.log", std::string(kHeader) + Line("203.0.113.11"));
  EXPECT_EQ(Poll(), (Seen{"203.0.113.10", "203.0.113.11"}));
  EXPECT_EQ(follower.CurrentFile(), "u_ex261209.log");
  // The old day's file removed later changes nothing.
  files.Remove("u_ex261208.log");
  EXPECT_TRUE(Poll().empty());
  EXPECT_EQ(follower.CurrentFile(), "u_ex261209.log");
}

// IIS's size limit: u_extend9.log is full and u_extend10.log begins. The rest of the old file is
// read, then the new one from its start.
TEST_F(LogFollowerTest, SizeRolloverIsFollowedAcross) {
  for (int i = 1; i <= 9; ++i) files.Write("u_extend" + std::to_string(i) + ".log", std::string(kHeader) + Line("198.51.100.1"));
  EXPECT_TRUE(Poll().empty());
  EXPECT_EQ(follower.CurrentFile(), "u_extend9.log");
  files.Append("u_extend9.log", Line("203.0.113.20") + "2026-12-08 01:02:03 203.0.113.21 1 a 192.0.2.10 21 PASS - 530");
  EXPECT_EQ(Poll(), Seen{"203.0.113.20"});
  files.Append("u_extend9.log", " 1326 41 s -\r\n");
  files.Write("u_extend10.log", std::string(kHeader) + Line("203.0.113.22"));
  EXPECT_EQ(Poll(), (Seen{"203.0.113.21", "203.0.113.22"}));
  EXPECT_EQ(follower.CurrentFile(), "u_extend10.log");
  files.Append("u_extend10.log", Line("203.0.113.23"));
  files.Write("u_extend11.log", std::string(kHeader) + Line("203.0.113.24"));
  EXPECT_EQ(Poll(), (Seen{"203.0.113.23", "203.0.113.24"}));
  EXPECT_EQ(follower.CurrentFile(), "u_extend11.log");
}

// The current file is the one written last, whatever its name says: a switch of the log format
// (u_nc, u_ex, u_extend), hourly files; equal times go to the name read with numbers as numbers.
TEST_F(LogFollowerTest, TheCurrentFileIsTheOneWrittenLastNamesOnlyBreakTies) {
  files.Write("u_nc261209.log", "198.51.100.1 - - [09/Dec/2026:01:00:00 +0000] \"PASS\" 530 0\r\n");
  files.Write("u_ex261209.log", kHeader);  // the format switched to W3C after the NCSA file
  Poll();
  EXPECT_EQ(follower.CurrentFile(), "u_ex261209.log");
  files.Write("u_extend1.log", std::string(kHeader) + Line("203.0.113.30"));
  files.Write("u_ex26120910.log", std::string(kHeader) + Line("203.0.113.31"));  // hourly, written last
  EXPECT_EQ(Poll(), Seen{"203.0.113.31"});
  EXPECT_EQ(follower.CurrentFile(), "u_ex26120910.log");

  EXPECT_TRUE(LogFileOlder({"u_extend9.log", 7}, {"u_extend10.log", 7}));
  EXPECT_FALSE(LogFileOlder({"u_extend10.log", 7}, {"u_extend9.log", 7}));
  EXPECT_TRUE(LogFileOlder({"u_extend10.log", 6}, {"u_extend9.log", 7}));
  EXPECT_TRUE(LogFileOlder({"u_ex26120909.log", 7}, {"U_EX26120910.LOG", 7}));
  EXPECT_TRUE(LogFileOlder({"u_ex261231.log", 7}, {"u_ex270101.log", 7}));
  EXPECT_TRUE(LogFileOlder({"u_extend09.log", 7}, {"u_extend9.log", 7}) !=
              LogFileOlder({"u_extend9.log", 7}, {"u_extend09.log", 7}));  // a total order
  EXPECT_FALSE(LogFileOlder({"u_ex1.log", 7}, {"u_ex1.log", 7}));

  // Files with one time (a copy, a coarse file system): the size rollover by its number.
  CMemoryLogFiles same;
  for (const char* name : {"u_extend2.log", "u_extend10.log", "u_extend9.log"}) same.files[name] = {kHeader, 5};
  CLogFollower tie(same, "F");
  tie.Poll([](const CLogonEvent&) {});
  EXPECT_EQ(tie.CurrentFile(), "u_extend10.log");
}

// 180 days of hourly logs (more than 4,096 names) and a folder beyond the listing's cap.
TEST_F(LogFollowerTest, ManyFilesStillGiveTheNewest) {
  for (int day = 0; day < 180; ++day)
    for (int hour = 0; hour < 24; ++hour) {
      char name[32];
      std::snprintf(name, sizeof name, "u_ex26%02d%02d%02d.log", 1 + day / 28, 1 + day % 28, hour);
      files.files[name] = {kHeader, static_cast<uint64_t>(day * 24 + hour + 1)};
    }
  files.tClock = 180 * 24;
  ASSERT_GT(files.files.size(), 4096u);
  Poll();
  EXPECT_EQ(follower.CurrentFile(), "u_ex26071223.log");
  EXPECT_FALSE(follower.FilesBeyondCap());
  files.Write("u_ex26071300.log", std::string(kHeader) + Line("203.0.113.40"));
  EXPECT_EQ(Poll(), Seen{"203.0.113.40"});

  CMemoryLogFiles crowded;
  crowded.extraNames = CLogFollower::kMaxListedFiles;
  crowded.Write("u_ex261209.log", kHeader);
  CLogFollower beyond(crowded, "F");
  EXPECT_EQ(beyond.Poll([](const CLogonEvent&) {}), EFollowState::kWatching);
  EXPECT_TRUE(beyond.FilesBeyondCap());
  EXPECT_EQ(beyond.CurrentFile(), "u_ex199999.log");  // the last one the listing reached
}

// The folder is listed at the start, when a name changes, and once when the current file stops
// growing; never at every look while it grows. Without change notifications, now and then.
TEST_F(LogFollowerTest, NoListingWhileTheCurrentFileGrows) {
  files.Write("u_ex261208.log", kHeader);
  Poll();
  EXPECT_EQ(files.listings, 1);
  for (int i = 0; i < 20; ++i) {
    files.Append("u_ex261208.log", Line("203.0.113.50"));
    EXPECT_EQ(Poll().size(), 1u);
  }
  EXPECT_EQ(files.listings, 1);
  for (int i = 0; i < 20; ++i) Poll();  // stopped growing: one listing, then none while idle
  EXPECT_EQ(files.listings, 2);
  files.Write("u_ex261209.log", std::string(kHeader) + Line("203.0.113.51"));
  EXPECT_EQ(Poll(), Seen{"203.0.113.51"});
  EXPECT_EQ(files.listings, 3);

  files.bBlind = true;
  const int before = files.listings;
  for (int i = 0; i < 2 * CLogFollower::kBlindLooksPerListing; ++i) {
    files.Append("u_ex261209.log", Line("203.0.113.52"));
    Poll();
  }
  EXPECT_EQ(files.listings - before, 2);
}

TEST_F(LogFollowerTest, TruncationStartsOver) {
  files.Write("u_ex261208.log", std::string(kHeader) + Line("203.0.113.1"));
  Poll();
  // Emptied and written again, shorter than before: every line of it is new, under its own header.
  files.Write("u_ex261208.log", "#Fields: c-ip cs-method sc-status\r\n203.0.113.20 PASS 530\r\n");
  EXPECT_EQ(Poll(), Seen{"203.0.113.20"});
  files.Append("u_ex261208.log", "203.0.113.21 PASS 530\r\n");
  EXPECT_EQ(Poll(), Seen{"203.0.113.21"});
}

TEST_F(LogFollowerTest, FolderAndFileTroublesAreToldAndOutlived) {
  files.bFolderThere = false;
  Poll(EFollowState::kFolderUnavailable);
  files.bFolderThere = true;
  Poll(EFollowState::kNoLogFile);
  // The first file made after the start is new: read from its beginning.
  files.Write("u_ex261208.log", std::string(kHeader) + Line("203.0.113.30"));
  EXPECT_EQ(Poll(), Seen{"203.0.113.30"});
  files.Append("u_ex261208.log", Line("203.0.113.31"));
  files.bReadFails = true;
  Poll(EFollowState::kFileUnreadable);
  files.bReadFails = false;
  EXPECT_EQ(Poll(), Seen{"203.0.113.31"});
  // Removed with nothing else left, then made again: read from its start.
  files.Remove("u_ex261208.log");
  Poll(EFollowState::kNoLogFile);
  files.Write("u_ex261209.log", std::string(kHeader) + Line("203.0.113.32"));
  EXPECT_EQ(Poll(), Seen{"203.0.113.32"});
}

TEST_F(LogFollowerTest, HugeAppendIsReadOverSeveralLooks) {
  files.Write("u_ex261208.log", kHeader);
  Poll();
  std::string lines;
  size_t count = 0;
  while (lines.size() < CLogFollower::kMaxBytesPerLook + 1000) {
    lines += Line("203.0.113.40");
    ++count;
  }
  files.Append("u_ex261208.log", lines);
  // A newer day already waits: the old one is still read to its end first.
  files.Write("u_ex261209.log", std::string(kHeader) + Line("203.0.113.41"));
  std::vector<std::string> seen = Poll();
  EXPECT_LT(seen.size(), count);
  for (const std::string& ip : Poll()) seen.push_back(ip);
  for (const std::string& ip : Poll()) seen.push_back(ip);
  ASSERT_EQ(seen.size(), count + 1);
  EXPECT_EQ(seen[count - 1], "203.0.113.40");
  EXPECT_EQ(seen[count], "203.0.113.41");
}

// The follower hands its converter to the reader, and keeps it when a newer file's headers
// set the columns again.
TEST(LogFollowerUsers, NamesAreConvertedInEveryFile) {
  CMemoryLogFiles files;
  CLogFollower follower(files, "F", CLogFollower::kMaxBytesPerLook, Gbk);
  std::vector<std::string> users;
  const auto poll = [&] { follower.Poll([&](const CLogonEvent& e) { users.push_back(e.strUser); }); };
  files.Write("u_ex261208.log", kHeader);
  poll();
  files.Append("u_ex261208.log", Line("203.0.113.50", "\xe7\xae\xa1\xe7\x90\x86\xe5\x91\x98"));
  poll();
  files.Write("u_ex261209.log", std::string(kHeader) + Line("203.0.113.50", "web+\xe7\xae\xa1"));
  poll();
  poll();
  EXPECT_EQ(users, (std::vector<std::string>{"管理员", "web 管"}));
}

}  // namespace
