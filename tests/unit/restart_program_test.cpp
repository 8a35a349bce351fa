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
  void EndWhenAllowed(std::function<bool()> end) override {
    steps.push_back("wait for commands");
    if (commandsAllow) ended = end();
    else pending = end;
  }

  std::string path = "C:\\Program Files\\Tavrick\\tavrick.EXE";
  bool starts = true;
  bool commandsAllow = true;
  bool ended = false;
  std::function<bool()> pending;
  std::vector<std::string> steps;
};

TEST(RestartProgram, StartsAQuotedCopyWithRebootThenEndsThisOne) {
  CRecordingProcess process;
  EXPECT_TRUE(RestartProgram(process));
  const std::vector<std::string> expected = {
      "wait for commands", "remove icon", "start \"C:\\Program Files\\Tavrick\\tavrick.exe\" reboot", "end"};
  EXPECT_EQ(expected, process.steps);
  EXPECT_TRUE(process.ended);
  EXPECT_EQ("\"D:\\t\\next.exe\" reboot", RestartCommandLine("D:\\t\\next"));
}

TEST(RestartProgram, WithoutANewCopyThisOneKeepsRunningWithItsIcon) {
  CRecordingProcess process;
  process.starts = false;
  EXPECT_TRUE(RestartProgram(process));
  EXPECT_EQ("restore icon", process.steps.back());
  EXPECT_EQ(4u, process.steps.size());
  EXPECT_FALSE(process.ended);  // this copy goes on

  CRecordingProcess unknown;
  unknown.path = "";
  EXPECT_FALSE(RestartProgram(unknown));
  unknown.path = "tavrick.exe";  // no folder
  EXPECT_FALSE(RestartProgram(unknown));
  EXPECT_TRUE(unknown.steps.empty());
}

TEST(RestartProgram, NothingHappensWhileACommandRunsAndTheEndWaitsForIt) {
  CRecordingProcess process;
  process.commandsAllow = false;
  EXPECT_TRUE(RestartProgram(process));
  EXPECT_EQ(std::vector<std::string>{"wait for commands"}, process.steps);
  ASSERT_TRUE(process.pending);
  EXPECT_TRUE(process.pending());  // the command is over
  EXPECT_EQ("end", process.steps.back());
}

}  // namespace
