// The dated log files on a real (Wine) file system.
#include "config/daily_log_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <winioctl.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "scratch_dir_win32.h"

namespace {

constexpr int64_t kDay = 86400;

std::string TodaysName(const char* prefix) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char name[64];
  std::snprintf(name, sizeof name, "%s%04u_%02u_%02u.txt", prefix, now.wYear, now.wMonth, now.wDay);
  return name;
}

// Moves the last-write time of a file or folder back by this many seconds.
bool Backdate(const std::string& path, int64_t seconds) {
  HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t;
  t.LowPart = now.dwLowDateTime;
  t.HighPart = now.dwHighDateTime;
  t.QuadPart -= static_cast<uint64_t>(seconds) * 10000000ull;
  FILETIME then = {t.LowPart, t.HighPart};
  const bool ok = SetFileTime(h, nullptr, nullptr, &then) != FALSE;
  CloseHandle(h);
  return ok;
}

bool MakeFile(const std::string& path, int64_t age) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(h, "x", 1, &written, nullptr);
  CloseHandle(h);
  return Backdate(path, age);
}

// A junction (mount point) at link leading to the folder target.
bool MakeMountPoint(const std::string& link, const std::string& target) {
  char full[MAX_PATH] = {};
  if (!GetFullPathNameA(target.c_str(), MAX_PATH, full, nullptr)) return false;
  const std::string substitute = std::string("\\??\\") + full;
  std::vector<WCHAR> names(2 * substitute.size() + 4, 0);  // substitute name, NUL, empty print name, NUL
  const int n = MultiByteToWideChar(CP_ACP, 0, substitute.c_str(), -1, names.data(), static_cast<int>(names.size()));
  if (n <= 0 || !CreateDirectoryA(link.c_str(), nullptr)) return false;
  const WORD nameBytes = static_cast<WORD>((n - 1) * sizeof(WCHAR));
  std::vector<BYTE> buffer(16 + names.size() * sizeof(WCHAR), 0);
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  const WORD dataLength = static_cast<WORD>(8 + nameBytes + 2 * sizeof(WCHAR));
  const WORD header[6] = {dataLength, 0, 0, nameBytes, static_cast<WORD>(nameBytes + sizeof(WCHAR)), 0};
  std::memcpy(buffer.data(), &tag, 4);
  std::memcpy(buffer.data() + 4, header, sizeof header);
  std::memcpy(buffer.data() + 16, names.data(), nameBytes);
  HANDLE h = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  DWORD returned = 0;
  const bool ok = h != INVALID_HANDLE_VALUE &&
                  DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(), 8 + dataLength, nullptr, 0, &returned,
                                  nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!ok) RemoveDirectoryA(link.c_str());
  return ok;
}

TEST(Win32DailyLog, AppendsToTodaysFileInTheLogFolderCreatingIt) {
  CScratchDir dir;
  CWin32LogFileSystem fs;
  const std::string first = "1  D:\\网站\\a.asp  新增  2012-05-03 10:00:00 \r\n ";
  AppendLog(fs, first, kLogFolder, kWatchLogPrefix);
  AppendLog(fs, "2", kLogFolder, kWatchLogPrefix);
  const std::string path = dir.File("log\\" + TodaysName("vr"));
  EXPECT_EQ(first + "2", ReadWholeFile(path));
  EXPECT_EQ(TodaysName("vr"), LogFileName("vr", fs.LocalNow()));
  EXPECT_TRUE(fs.IsDirectory(dir.File("log")));
  EXPECT_FALSE(fs.IsDirectory(path));
}

TEST(Win32DailyLog, MissingFolderThatCannotBeCreatedLosesTheTextSilently) {
  CScratchDir dir;
  CWin32LogFileSystem fs;
  // Two levels are missing: only one is created, so the write fails and nothing is left.
  AppendLog(fs, "lost", ".\\missing\\log", kWatchLogPrefix);
  EXPECT_FALSE(FileExists(dir.File("missing")));
}

TEST(Win32DailyLog, AgeInWholeLocalDays) {
  CScratchDir dir;
  CWin32LogFileSystem fs;
  ASSERT_TRUE(MakeFile(dir.File("a.txt"), 90 * kDay - 3600));
  ASSERT_TRUE(MakeFile(dir.File("b.txt"), 90 * kDay + 60));
  ASSERT_TRUE(CreateDirectoryA(dir.File("sub").c_str(), nullptr));
  ASSERT_TRUE(Backdate(dir.File("sub"), 3 * kDay + 60));
  EXPECT_EQ(89, FileAgeDays(fs, dir.File("a.txt")));
  EXPECT_EQ(90, FileAgeDays(fs, dir.File("b.txt")));
  EXPECT_EQ(3, FileAgeDays(fs, dir.File("sub")));  // folders open too
  EXPECT_EQ(0, FileAgeDays(fs, dir.File("none.txt")));
}

TEST(Win32DailyLog, CleanUpDeletesOldFilesAndSkipsDotFolders) {
  CScratchDir dir;
  CWin32LogFileSystem fs;
  const std::string log = dir.File("log");
  ASSERT_TRUE(CreateDirectoryA(log.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((log + "\\2011").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((log + "\\.keep").c_str(), nullptr));
  ASSERT_TRUE(MakeFile(log + "\\vr2012_02_03.txt", 90 * kDay - 3600));
  ASSERT_TRUE(MakeFile(log + "\\vr2012_01_01.txt", 90 * kDay + 60));
  ASSERT_TRUE(MakeFile(log + "\\2011\\vr2011_12_31.txt", 200 * kDay));
  ASSERT_TRUE(MakeFile(log + "\\2011\\new.txt", 0));
  ASSERT_TRUE(MakeFile(log + "\\.keep\\old.txt", 500 * kDay));

  DeleteOldFiles(fs, LogCleanupFolder(dir.Path()), 90);
  EXPECT_TRUE(FileExists(log + "\\vr2012_02_03.txt"));
  EXPECT_FALSE(FileExists(log + "\\vr2012_01_01.txt"));
  EXPECT_FALSE(FileExists(log + "\\2011\\vr2011_12_31.txt"));
  EXPECT_TRUE(FileExists(log + "\\2011\\new.txt"));
  EXPECT_TRUE(FileExists(log + "\\.keep\\old.txt"));
  EXPECT_TRUE(FileExists(log + "\\2011"));  // folders themselves stay

  DeleteOldFiles(fs, LogCleanupFolder(dir.Path()), 0);
  EXPECT_FALSE(FileExists(log + "\\vr2012_02_03.txt"));
  EXPECT_FALSE(FileExists(log + "\\2011\\new.txt"));
  EXPECT_TRUE(FileExists(log + "\\.keep\\old.txt"));
}

TEST(Win32DailyLog, CleanUpNeverFollowsAJunctionOutOfTheLogFolder) {
  CScratchDir dir;
  CWin32LogFileSystem fs;
  const std::string log = dir.File("log"), elsewhere = dir.File("elsewhere");
  ASSERT_TRUE(CreateDirectoryA(log.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), nullptr));
  ASSERT_TRUE(MakeFile(log + "\\vr2012_01_01.txt", 500 * kDay));
  ASSERT_TRUE(MakeFile(elsewhere + "\\precious.dat", 500 * kDay));
  const std::string junction = log + "\\junction";
  ASSERT_TRUE(MakeMountPoint(junction, elsewhere) || MakeWineFolderLink(junction, elsewhere));
  const DWORD attributes = GetFileAttributesA(junction.c_str());
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
  ASSERT_NE(0u, attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  ASSERT_TRUE(FileExists(junction + "\\precious.dat"));  // it does lead there

  DeleteOldFiles(fs, LogCleanupFolder(dir.Path()), 0);
  EXPECT_FALSE(FileExists(log + "\\vr2012_01_01.txt"));
  EXPECT_TRUE(FileExists(elsewhere + "\\precious.dat"));
  EXPECT_TRUE(FileExists(junction));
  RemoveFolderLink(junction);
  EXPECT_FALSE(FileExists(junction));
  EXPECT_TRUE(FileExists(elsewhere + "\\precious.dat"));
}

TEST(Win32DailyLog, CleanUpLeavesALogFolderThatIsItselfALinkAlone) {
  CScratchDir dir;
  CWin32LogFileSystem fs;
  const std::string log = dir.File("log"), elsewhere = dir.File("elsewhere");
  ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), nullptr));
  ASSERT_TRUE(MakeFile(elsewhere + "\\precious.dat", 500 * kDay));
  ASSERT_TRUE(MakeMountPoint(log, elsewhere) || MakeWineFolderLink(log, elsewhere));
  ASSERT_TRUE(fs.IsReparsePoint(LogCleanupFolder(dir.Path())));
  ASSERT_FALSE(fs.IsReparsePoint(elsewhere));

  DeleteOldFiles(fs, LogCleanupFolder(dir.Path()), 0);
  EXPECT_TRUE(FileExists(elsewhere + "\\precious.dat"));
  // The note went beside the link, not through it to where it leads.
  EXPECT_FALSE(FileExists(elsewhere + "\\" + TodaysName("cfg")));
  const std::string note = ReadWholeFile(dir.File(TodaysName("cfg")));
  EXPECT_NE(std::string::npos, note.find("是联接或符号链接,未清理旧日志")) << note;
  RemoveFolderLink(log);
  EXPECT_TRUE(FileExists(elsewhere + "\\precious.dat"));
}

}  // namespace
