// The program's restart of itself, through a recording process port.
#include <gtest/gtest.h>

#include "remote/restart_program.h"

namespace {

class CRecordingProcess : public IProcessPorts {
 public:
  std::string OwnExecutablePath() override { return path; }
  bool StartProgram(const std::string& commandLine) override {
    steps.push_back("start " + commandLine);
    return starts;
  }
  void EndOwnProcess() override { steps.push_back("end"); }
  void RemoveTrayIcon() override { steps.push_back("remove icon"); }
  void RestoreTrayIcon() override { steps.push_back("restore icon"); }

  std::string path = "C:\\Program Files\\Tavrick\\tavrick.EXE";
  bool starts = true;
  std::vector<std::string> steps;
};

TEST(RestartProgram, StartsAQuotedCopyWithRebootThenEndsThisOne) {
  CRecordingProcess process;
  EXPECT_TRUE(RestartProgram(process));
  const std::vector<std::string> expected = {
      "remove icon", "start \"C:\\Program Files\\Tavrick\\tavrick.exe\" reboot", "end"};
  EXPECT_EQ(expected, process.steps);
  EXPECT_EQ("\"D:\\t\\next.exe\" reboot", RestartCommandLine("D:\\t\\next"));
}

TEST(RestartProgram, WithoutANewCopyThisOneKeepsRunningWithItsIcon) {
  CRecordingProcess process;
  process.starts = false;
  EXPECT_FALSE(RestartProgram(process));
  EXPECT_EQ("restore icon", process.steps.back());
  EXPECT_EQ(3u, process.steps.size());

  CRecordingProcess unknown;
  unknown.path = "";
  EXPECT_FALSE(RestartProgram(unknown));
  unknown.path = "tavrick.exe";  // no folder
  EXPECT_FALSE(RestartProgram(unknown));
  EXPECT_TRUE(unknown.steps.empty());
}

}  // namespace
