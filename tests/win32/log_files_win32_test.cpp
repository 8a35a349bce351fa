// The FTP log folder through the system: the follower over real files picks the file written
// last among thousands and across IIS's size rollover, and a folder's change notification says
// when names changed (and not when a file merely grew).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "logonguard/ftp_log_source_win32.h"
#include "logonguard/guard_inbox.h"
#include "logonguard/log_files_win32.h"
#include "logonguard/log_follower.h"
#include "scratch_dir_win32.h"

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;

bool MakeLog(const std::string& path, uint64_t written, const std::string& bytes = "#Fields: c-ip cs-method sc-status\r\n") {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD done = 0;
  bool ok = bytes.empty() || WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) != FALSE;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(written);
  time.dwHighDateTime = static_cast<DWORD>(written >> 32);
  ok = ok && (written == 0 || SetFileTime(h, nullptr, nullptr, &time) != FALSE);
  CloseHandle(h);
  return ok;
}

bool Append(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD done = 0;
  const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) != FALSE;
  CloseHandle(h);
  return ok;
}

uint64_t Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// 190 days of hourly logs, 4,560 names (the folder listed by its first 4,096 names stopped 20
// days short), and a site whose log reached IIS's size limit.
TEST(Win32LogFiles, TheFileWrittenLastAmongThousandsAndAcrossTheSizeRollover) {
  CScratchDir dir;
  const std::string hourly = dir.File("FTPSVC2"), rolled = dir.File("FTPSVC3");
  ASSERT_TRUE(CreateDirectoryA(hourly.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(rolled.c_str(), nullptr));
  const uint64_t start = Now() - 200ull * 86400 * kTicksPerSecond;
  std::string last;
  for (int hour = 0; hour < 190 * 24; ++hour) {
    const int day = hour / 24;
    char name[32];
    std::snprintf(name, sizeof name, "u_ex26%02d%02d%02d.log", 1 + day / 28, 1 + day % 28, hour % 24);
    // Made in the order of their names, so each is written after the one before (kept empty:
    // a quicker test under Wine).
    ASSERT_TRUE(MakeLog(hourly + "\\" + name, 0, "")) << name;
    last = name;
  }
  CWin32LogFilePort port;
  CLogFollower follower(port, hourly);
  EXPECT_EQ(follower.Poll([](const CLogonEvent&) {}), EFollowState::kWatching);
  EXPECT_EQ(follower.CurrentFile(), last);
  EXPECT_FALSE(follower.FilesBeyondCap());

  for (int n = 1; n <= 9; ++n)
    ASSERT_TRUE(MakeLog(rolled + "\\u_extend" + std::to_string(n) + ".log", start + n * kTicksPerSecond));
  CLogFollower site(port, rolled);
  std::vector<std::string> seen;
  const auto poll = [&] { return site.Poll([&](const CLogonEvent& e) { seen.push_back(e.strAddress); }); };
  EXPECT_EQ(poll(), EFollowState::kWatching);
  EXPECT_EQ(site.CurrentFile(), "u_extend9.log");
  ASSERT_TRUE(Append(rolled + "\\u_extend9.log", "203.0.113.70 PASS 530\r\n"));
  ASSERT_TRUE(MakeLog(rolled + "\\u_extend10.log", Now() + kTicksPerSecond,
                      "#Fields: c-ip cs-method sc-status\r\n203.0.113.71 PASS 530\r\n"));
  // The notification may come a moment after the file was made.
  for (int i = 0; i < 50 && site.CurrentFile() != "u_extend10.log"; ++i) {
    poll();
    Sleep(20);
  }
  EXPECT_EQ(site.CurrentFile(), "u_extend10.log");
  EXPECT_EQ(seen, (std::vector<std::string>{"203.0.113.70", "203.0.113.71"}));
}

TEST(Win32LogFiles, AFolderChangeIsToldWhenANameChangesNotWhenAFileGrows) {
  CScratchDir dir;
  const std::string site = dir.File("FTPSVC4");
  ASSERT_TRUE(CreateDirectoryA(site.c_str(), nullptr));
  ASSERT_TRUE(MakeLog(site + "\\u_ex261209.log", Now()));
  CWin32LogFilePort port;
  EXPECT_EQ(port.FolderChange(site), EFolderChange::kChanged);  // the first question
  EXPECT_EQ(port.FolderChange(site), EFolderChange::kNone);
  ASSERT_TRUE(Append(site + "\\u_ex261209.log", "203.0.113.72 PASS 530\r\n"));
  Sleep(200);
  EXPECT_EQ(port.FolderChange(site), EFolderChange::kNone);
  ASSERT_TRUE(MakeLog(site + "\\u_ex261210.log", Now()));
  EFolderChange change = EFolderChange::kNone;
  for (int i = 0; i < 100 && change == EFolderChange::kNone; ++i) {
    change = port.FolderChange(site);
    if (change == EFolderChange::kNone) Sleep(20);
  }
  EXPECT_EQ(change, EFolderChange::kChanged);
  // A folder not there yet is asked about again (and listed) at every look, never given up on.
  EXPECT_EQ(port.FolderChange(dir.File("FTPSVC5")), EFolderChange::kChanged);
  EXPECT_EQ(port.FolderChange(dir.File("FTPSVC5")), EFolderChange::kChanged);
  port.Unwatch(site);
}

// More site folders than the source watches: its state in the window says so.
TEST(Win32LogFiles, SitesBeyondTheCapAreToldInTheFtpState) {
  CScratchDir dir;
  const std::string logs = dir.File("ftplogs");
  ASSERT_TRUE(CreateDirectoryA(logs.c_str(), nullptr));
  for (int site = 1; site <= 65; ++site)
    ASSERT_TRUE(CreateDirectoryA((logs + "\\FTPSVC" + std::to_string(site)).c_str(), nullptr));
  ASSERT_TRUE(MakeLog(logs + "\\FTPSVC1\\u_ex261209.log", Now()));
  auto inbox = std::make_shared<CGuardInbox>();
  {
    CFtpLogSource source(inbox, logs);
    ASSERT_TRUE(source.Start());
    for (int i = 0; i < 500 && !inbox->State(EGuardSource::kFtp).bReported; ++i) Sleep(10);
    source.Stop();
  }
  EXPECT_EQ(inbox->State(EGuardSource::kFtp).strText, "正在监视前64个FTP站点的日志(站点多于64个)");
}

}  // namespace
