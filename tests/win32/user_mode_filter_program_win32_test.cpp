// The program protecting through the user-mode filter: the real program, sent to the filtering
// engine by its setting (Wine has no engine, so nothing else would take it there), with the
// recording stand-in of fwpuclnt.dll in place of the system's.
#include <gtest/gtest.h>

#include <sstream>

#include "common/resource.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "process_driver_win32.h"
#include "scratch_dir_win32.h"
#include "tavrick_session_win32.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The day's configuration log of the folder (what a start that failed says).
std::string ConfigLog(const CScratchDir& dir) {
  WIN32_FIND_DATAA found;
  const HANDLE h = FindFirstFileA(dir.File("log\\cfg*.txt").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  FindClose(h);
  return ReadWholeFile(dir.File(std::string("log\\") + found.cFileName));
}

bool StartsWith(const std::string& line, const char* word) { return line.rfind(word, 0) == 0; }

int CountContaining(const std::vector<std::string>& lines, const std::string& part) {
  int n = 0;
  for (const std::string& line : lines) n += line.find(part) != std::string::npos ? 1 : 0;
  return n;
}

TEST(UserModeFilterProgram, ProtectsWithoutADriverLoadsItsListsInOneTransactionAndTheSessionGoesAtExit) {
  CScratchDir dir;
  // The program takes the engine's library from the system folder only; the test build is
  // pointed at the recorder instead.
  CEnvironmentWord library("TAVRICK_HOOK_FWP_LIBRARY", ExeDir() + "\\fwp-recorder\\fwpuclnt.dll");

  const std::string blocked = "61.135.0.0|0|永远,203.0.113.7|0|永远|0,0.0.0.5|0|永远";
  CWin32ProfileStore store;
  WriteIni(store, kConfigFile, "sysice", "filterdevice", "wfp");
  WriteIni(store, kConfigFile, "sysice", "onlinetime", "1");  // starts protection by itself
  WriteIni(store, kConfigFile, "ipouter", "ipouterlst", "198.51.100.9");
  WriteIni(store, kConfigFile, "ipfilter", "ipfilterlst", blocked);
  WriteIni(store, kConfigFile, "ping", "pingout", "1");
  const std::string record = dir.File("fwpuclnt.txt");
  CEnvironmentWord recording("TAVRICK_FWP_RECORD", record);
  CEnvironmentWord rebuild("TAVRICK_HOOK_LIST_MS", "2000");  // the ping rule goes with the list rebuild

  CTavrickSession app;
  ASSERT_TRUE(app.Start(dir.Path(), "", ExeDir() + "\\tavrick_hooked.exe"));
  ASSERT_TRUE(app.WaitLabel(IDC_STATE, "启动", 30000)) << ReadWholeFile(record) << ConfigLog(dir);
  // No installation question came: the program protects with no driver anywhere.
  EXPECT_EQ(nullptr, app.WaitBox(" 提示", 500));

  // The ping rule (outgoing echo requests only) arrives with the list window's first rebuild.
  ASSERT_TRUE(WaitUntil([&] { return ReadWholeFile(record).find("weight=0x0f") != std::string::npos; }, 20000))
      << ReadWholeFile(record);
  const std::vector<std::string> lines = Lines(ReadWholeFile(record));
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(StartsWith(lines[0], "open session=given session-flags=0x00000001")) << lines[0];
  // The start's probe opens a session and closes it again; protection holds the second.
  EXPECT_EQ(2, CountContaining(lines, "open session=given session-flags=0x00000001"));
  EXPECT_EQ(2, CountContaining(lines, "sublayer key=752981f6-4fc3-47b2-a2d3-bcf137aecd83 provider=9f166ccf"));
  EXPECT_EQ(1, CountContaining(lines, "close"));
  // The exception: a permit at each of the four layers, outweighing the blocks.
  EXPECT_EQ(4, CountContaining(lines, "weight=0x0a action=0x00001002"));
  EXPECT_EQ(4, CountContaining(lines, "type=uint32 value=0xc6336409"));
  // 61.135.0.0 by hand: the prefix, both directions; 203.0.113.7 marked exact: itself alone.
  EXPECT_EQ(2, CountContaining(lines, "addr=0x3d870000 mask=0xffff0000"));
  EXPECT_EQ(2, CountContaining(lines, "type=uint32 value=0xcb007107"));
  EXPECT_EQ(4, CountContaining(lines, "weight=0x05 action=0x00001001"));
  // 0.0.0.5 cannot be written exactly: it reached no filter, stays listed, and the log says why.
  EXPECT_EQ(8, CountContaining(lines, "filter add=") - CountContaining(lines, "weight=0x0f"));
  EXPECT_EQ(blocked, SavedBlockedList());

  // The whole list load sits in one transaction: no commit between its first and last filter.
  size_t first = lines.size(), last = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (StartsWith(lines[i], "filter add=") && lines[i].find("weight=0x0f") == std::string::npos) {
      first = std::min(first, i);
      last = i;
    }
  }
  ASSERT_LT(first, last);
  for (size_t i = first; i < last; ++i) EXPECT_FALSE(StartsWith(lines[i], "commit")) << i << ": " << lines[i];

  app.Click(IDC_EXIT);
  app.Answer(" 提示", IDYES);
  ASSERT_TRUE(app.Process().WaitExit(40000));
  // The dynamic session's end takes every filter with it; nothing is deleted one by one.
  const std::vector<std::string> after = Lines(ReadWholeFile(record));
  EXPECT_EQ("close", after.back());
  const std::string cfgLog = [&] {
    WIN32_FIND_DATAA found;
    const HANDLE h = FindFirstFileA(dir.File("log\\cfg*.txt").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return std::string();
    FindClose(h);
    return ReadWholeFile(dir.File(std::string("log\\") + found.cFileName));
  }();
  EXPECT_NE(std::string::npos, cfgLog.find("0.0.0.5")) << cfgLog;
}

}  // namespace
