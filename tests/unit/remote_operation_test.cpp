// Remote operation: the remote password's save, the command check with its poll alternation,
// and the reboot path over recording process, account and reboot ports.
#include <gtest/gtest.h>

#include <map>

#include "alerts/service_answers.h"
#include "config/ini_access.h"
#include "config/profile_store.h"
#include "remote/md5.h"
#include "remote/remote_commands.h"
#include "remote/remote_reboot.h"
#include "remote/remote_settings.h"

namespace {

TEST(RemoteSettings, ChecksInOrderAndStoresTheDigest) {
  CMemoryProfileStore store;
  CSettings settings;
  auto save = [&](bool on, const std::string& password, const std::string& repeated) {
    return SaveRemotePassword(on, password, repeated, settings, store);
  };
  EXPECT_EQ(RemoteField::kEnable, save(false, "secret1", "secret1").focus);
  EXPECT_STREQ(remotemsg::kNotEnabled, save(false, "", "x").szMessage);
  EXPECT_STREQ(remotemsg::kTooShort, save(true, "abcde", "abcde").szMessage);
  EXPECT_EQ(RemoteField::kPassword, save(true, "  abcde", "  abcde").focus);  // trimmed before counting
  EXPECT_STREQ(remotemsg::kMismatch, save(true, "abcdef", "abcdeg").szMessage);
  EXPECT_STREQ(remotemsg::kMismatch, save(true, "abcdef ", "abcdef").szMessage);  // compared as typed
  EXPECT_FALSE(store.Has(kConfigFile, "remote", "remotepassw"));
  EXPECT_EQ("", settings.remotepassw);

  EXPECT_STREQ(remotemsg::kSaved, save(true, "中文字", "中文字").szMessage);  // six bytes
  EXPECT_EQ(MD5Text("中文字"), settings.remotepassw);
  EXPECT_STREQ(remotemsg::kSaved, save(true, "abc123 ", "abc123 ").szMessage);
  EXPECT_EQ(MD5Text("abc123"), ReadIni(store, kConfigFile, "remote", "remotepassw"));
  EXPECT_EQ("e99a18c428cb38d5f260853678922e03", settings.remotepassw);
  EXPECT_TRUE(RemotePasswordMatches("  abc123 ", settings.remotepassw));  // works remotely too
}

// The service's answer is split at commas, and its page takes at most 64 characters: such a
// password is refused before anything is written, with the focus on the password.
TEST(RemoteSettings, PasswordsTheServiceCannotHandBackAreRefused) {
  CMemoryProfileStore store;
  CSettings settings;
  auto save = [&](const std::string& password) { return SaveRemotePassword(true, password, password, settings, store); };
  for (const std::string& comma : {std::string("abc,def"), std::string(",abcdef"), std::string("密码,密码")}) {
    const CRemoteSaveResult result = save(comma);
    EXPECT_STREQ(remotemsg::kHasComma, result.szMessage) << comma;
    EXPECT_EQ(RemoteField::kPassword, result.focus);
  }
  EXPECT_STREQ(remotemsg::kTooLong, save(std::string(65, 'a')).szMessage);
  std::string chinese;
  for (int i = 0; i < 33; ++i) chinese += "字";  // 33 characters, 66 bytes
  EXPECT_STREQ(remotemsg::kSaved, save(chinese).szMessage);
  EXPECT_STREQ(remotemsg::kSaved, save(std::string(64, 'a') + "  ").szMessage);  // blanks are trimmed
  for (int i = 0; i < 32; ++i) chinese += "字";
  EXPECT_STREQ(remotemsg::kTooLong, save(chinese).szMessage);
  EXPECT_EQ(MD5Text(std::string(64, 'a')), ReadIni(store, kConfigFile, "remote", "remotepassw"));
}

class CFakeLock : public IStatusLock {
 public:
  void Lock() override { held = true; }
  bool TryLock() override {
    if (busy || held) return false;
    held = true;
    return true;
  }
  void Unlock() override { held = false; }
  bool busy = false, held = false;
};

class RemoteCheck : public ::testing::Test {
 protected:
  RemoteCheck() {
    ports.pLock = &lock;
    ports.pCommands = &commands;
    ports.pStoredDigest = &stored;
    ports.startPoll = [this] { steps.push_back("poll"); };
    ports.remoteReboot = [this] { steps.push_back(lock.held ? "reboot under the lock" : "reboot"); };
    ports.releaseAll = [this] {
      steps.push_back("release");
      return released;
    };
  }
  // One tick after a poll that put this answer into the list.
  std::vector<std::string> Tick(const std::vector<std::string>& answer) {
    steps.clear();
    commands = answer;
    lastResult = CheckRemoteCommands(ports);
    return steps;
  }

  CFakeLock lock;
  std::vector<std::string> commands;
  std::string stored = MD5Text("secret one");
  bool released = true, lastResult = false;
  std::vector<std::string> steps;
  CRemoteCommandPorts ports;
};

using Steps = std::vector<std::string>;

TEST_F(RemoteCheck, FlagsPickTheActionsRebootFirst) {
  EXPECT_EQ(Steps{"reboot"}, Tick({"1", "0", "secret one"}));
  EXPECT_FALSE(lastResult);
  EXPECT_EQ(Steps{"release"}, Tick({"0", "1", "secret one"}));
  EXPECT_TRUE(lastResult);
  EXPECT_TRUE(commands.empty());
  EXPECT_EQ((Steps{"reboot", "release"}), Tick({"1", "1", "secret one"}));
  EXPECT_EQ(Steps{"release"}, Tick({" 0", "1abc", " \tsecret one \r\n"}));  // C-library integers, trimmed password
  released = false;  // the driver refused: the window keeps its rows
  EXPECT_EQ(Steps{"release"}, Tick({"0", "1", "secret one"}));
  EXPECT_FALSE(lastResult);
  EXPECT_EQ(Steps{}, Tick({"2", "x1", "secret one"}));
  EXPECT_FALSE(lock.held);
}

TEST_F(RemoteCheck, ShortListsPollAndBadPasswordsAreDropped) {
  EXPECT_EQ(Steps{"poll"}, Tick({}));
  EXPECT_EQ(Steps{"poll"}, Tick({"0", "1"}));  // two fields stay: the next tick polls again
  EXPECT_EQ(2u, commands.size());
  // The poll's split: a trailing comma adds no entry, so three fields and a comma are acted
  // on, two fields and a comma are not.
  std::vector<std::string> answer;
  SplitAnswer("0,1,", answer);
  EXPECT_EQ(Steps{"poll"}, Tick(answer));
  SplitAnswer("0,1,secret one,", answer);
  EXPECT_EQ(Steps{"release"}, Tick(answer));
  EXPECT_EQ(Steps{}, Tick({"1", "1", "secret two"}));
  EXPECT_TRUE(commands.empty());  // consumed all the same
  EXPECT_EQ(Steps{}, Tick({"1", "1", "", "extra"}));
  stored = "  ";
  EXPECT_EQ(Steps{}, Tick({"1", "1", "  "}));  // no stored password: never
  EXPECT_FALSE(RemotePasswordMatches("", ""));
  // While a request holds the lock the tick neither polls nor acts, nor waits.
  stored = MD5Text("secret one");
  lock.busy = true;
  EXPECT_EQ(Steps{}, Tick({"1", "1", "secret one"}));
  EXPECT_EQ(3u, commands.size());
  lock.busy = false;
  EXPECT_EQ((Steps{"reboot", "release"}), Tick(commands));
}

class CFakeProcesses : public ISystemProcesses {
 public:
  struct CProcess {
    std::string strPath, strOwner;
    uint32_t nSession = 1;
  };
  bool ListProcessIds(std::vector<uint32_t>* ids) override {
    for (const auto& entry : table) ids->push_back(entry.first);
    return listable;
  }
  uint32_t OwnProcessId() override { return 10; }
  std::string OwnExecutablePath() override { return "D:\\Tavrick\\tavrick.exe"; }
  std::string WindowsFolder() override { return "C:\\Windows"; }
  uint32_t ShellProcessId() override { return 30; }
  std::string ProcessPath(uint32_t id) override { return table[id].strPath; }
  std::string ProcessOwner(uint32_t id) override { return table[id].strOwner; }
  uint32_t ProcessSessionId(uint32_t id) override { return table[id].nSession; }
  void Terminate(uint32_t id) override { steps->push_back("end " + std::to_string(id)); }

  std::map<uint32_t, CProcess> table;
  bool listable = true;
  std::vector<std::string>* steps = nullptr;
};

class CFakeUsers : public ILocalUsers {
 public:
  bool ListAccounts(std::vector<CAccount>* accounts) override {
    *accounts = {{"admin", {"Users", "Administrators"}}, {"Admin2", {"Administrators"}}, {"guest", {"Users"}}};
    return true;
  }
};

class CFakeReboot : public IServerReboot {
 public:
  void RebootServer() override { steps->push_back("reboot"); }
  std::vector<std::string>* steps = nullptr;
};

TEST(RemoteReboot, EndsAdministratorsProcessesButSparesItselfTheShellAndTheSystemThenReboots) {
  std::vector<std::string> steps;
  CFakeProcesses processes;
  processes.steps = &steps;
  processes.table = {
      {0, {"", "admin"}},
      {10, {"D:\\Tavrick\\tavrick.exe", "admin"}},               // itself
      {11, {"d:\\TAVRICK\\TAVRICK.EXE", "admin"}},               // another copy of it
      {20, {"C:\\Windows\\Explorer.EXE", "admin"}},              // the shell
      {30, {"C:\\Tools\\shell.exe", "admin"}},                   // the desktop's shell window
      {40, {"C:\\windows\\system32\\services.exe", "admin"}},    // system and Wine
      {41, {"", "admin"}},                                       // cannot be named
      {50, {"C:\\Windowsapps\\notes.exe", "admin"}},
      {51, {"C:\\Apps\\db.exe", "Admin2"}},
      {60, {"C:\\Apps\\web.exe", "guest"}},                      // not an administrator
      {61, {"C:\\Apps\\svc.exe", "ADMIN"}},                      // names compare exactly
      {62, {"C:\\Apps\\gone.exe", ""}},
      {70, {"C:\\MySQL\\bin\\mysqld.exe", "admin", 0}},           // a service, run by an administrator
      {71, {"C:\\FTP\\ftpd.exe", "Admin2", kUnknownSession}},       // its session cannot be read
      {72, {"C:\\Apps\\editor.exe", "Admin2", 2}},                  // another administrator's desktop
  };
  CFakeUsers users;
  CFakeReboot reboot;
  reboot.steps = &steps;
  RemoteReboot(processes, users, reboot);
  EXPECT_EQ((std::vector<std::string>{"end 50", "end 51", "end 72", "reboot"}), steps);

  steps.clear();
  processes.listable = false;  // no process list: no reboot either
  RemoteReboot(processes, users, reboot);
  EXPECT_TRUE(steps.empty());
}

}  // namespace
