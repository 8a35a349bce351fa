// The updater: its command line, the published file list, the digest, and what it leaves
// behind when a download, a check, the replacement or the new build fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "build_signer.h"
#include "upgrader/build_manifest.h"
#include "upgrader/build_signature.h"
#include "upgrader/sha256.h"
#include "upgrader/updater.h"

namespace {

const std::string kFolder = "http://svc/tavrick/newsoft/x64/";
const std::string kCommand = "upgrade.exe " + kFolder + ",a,b";

std::string FileLine(const std::string& name, const std::string& bytes) {
  return "file " + name + " " + std::to_string(bytes.size()) + " " + Sha256Hex(bytes) + "\n";
}

// A program folder in memory, a service in memory and the program's processes as flags.
class CFakeUpdaterPorts : public IUpdaterPorts {
 public:
  std::map<std::string, std::string> files, served, record;
  std::set<std::string> failMoves, failCopies, links;
  bool oldEnds = true, newComesUp = true, programRunning = true;
  int starts = 0, waits = 0;
  int movesBeforeDeath = -1;  // the updater is killed at this move (an exception ends the run)
  std::string startedBytes;  // the program file as it was when last started
  std::string startedWords;

  bool Download(const std::string& url, uint64_t limit, std::string& body) override {
    const auto it = served.find(url);
    if (it == served.end() || it->second.size() > limit) return false;
    body = it->second;
    return true;
  }
  bool Exists(const std::string& name) override { return files.count(name) != 0; }
  bool Read(const std::string& name, std::string& bytes) override {
    if (!files.count(name)) return false;
    bytes = files[name];
    return true;
  }
  bool Write(const std::string& name, const std::string& bytes) override {
    files[name] = bytes;
    return true;
  }
  bool Copy(const std::string& from, const std::string& to) override {
    if (!files.count(from) || failCopies.count(to)) return false;
    files[to] = files[from];
    return true;
  }
  bool Move(const std::string& from, const std::string& to) override {
    if (movesBeforeDeath == 0) throw std::runtime_error("killed");
    if (movesBeforeDeath > 0) --movesBeforeDeath;
    if (!files.count(from) || failMoves.count(to)) return false;
    files[to] = files[from];
    files.erase(from);
    return true;
  }
  bool Remove(const std::string& name) override {
    files.erase(name);
    return true;
  }
  bool UseFolder(const std::string& name) override { return links.count(name) == 0; }
  bool EmptyFolder(const std::string& name) override {
    if (links.count(name)) return false;
    for (auto it = files.begin(); it != files.end();) it = it->first.rfind(name + "\\", 0) == 0 ? files.erase(it) : ++it;
    return true;
  }
  bool WaitProgramEnded(int) override {
    ++waits;
    if (oldEnds) programRunning = false;
    return !programRunning;
  }
  bool StartProgram(const std::string& words, int confirmSeconds) override {
    ++starts;
    startedBytes = files["tavrick.exe"];
    startedWords = words;
    programRunning = confirmSeconds == 0 || newComesUp;
    return programRunning;
  }
  std::string RecordValue(const std::string& key) override { return record[key]; }
  void SetRecordValue(const std::string& key, const std::string& value) override { record[key] = value; }
  int64_t Now() override { return 1700000000; }
};

struct UpdaterCase : ::testing::Test {
  void SetUp() override {
    ports = CFakeUpdaterPorts();
    ports.files = {{"tavrick.exe", "old program"}, {"tavrick.cfg", "[sysice]"}, {"log\\2024-1-1.log", "x"}};
    ports.record = {{"version", "2.40"}, {"from", "2.36"}, {"bits", "64"}};
    Publish("2.40", "new program", "new library");
  }
  void Publish(const std::string& version, const std::string& program, const std::string& library) {
    ports.served[kFolder + "tavrick.exe"] = program;
    ports.served[kFolder + "helper.dll"] = library;
    ports.served[kFolder + "manifest.txt"] =
        "version " + version + "\r\n" + FileLine("tavrick.exe", program) + FileLine("helper.dll", library);
    Sign();
  }
  // The vendor's signature of the manifest now served.
  void Sign() {
    ports.served[kFolder + "manifest.txt.sig"] = StandInSignatureFile(ManifestSignedText("x64", ports.served[kFolder + "manifest.txt"]));
  }
  bool StagedNothing() const {
    for (const auto& file : ports.files)
      if (file.first.rfind("upgrade.new\\", 0) == 0) return false;
    return true;
  }
  // The old program is where it was, untouched, and was started again.
  void ExpectOldKept(const std::string& reason) {
    EXPECT_EQ("failed", ports.record["result"]);
    EXPECT_EQ(reason, ports.record["reason"]);
    EXPECT_EQ("old program", ports.files["tavrick.exe"]);
    EXPECT_EQ(0u, ports.files.count("helper.dll"));
    EXPECT_EQ(1, ports.starts);
    EXPECT_EQ("old program", ports.startedBytes);
  }
  CFakeUpdaterPorts ports;
  CUpdater updater{ports};
};

TEST(Updater, CommandLineAndDigest) {
  EXPECT_EQ(kFolder + ",a,b", CommandArguments(kCommand));
  EXPECT_EQ(kFolder + ",", CommandArguments("\"C:\\p q\\upgrade.exe\" " + kFolder + ","));
  EXPECT_EQ("", CommandArguments("upgrade.exe"));
  EXPECT_EQ(kFolder, BuildFolderOf(kFolder + ",a b,c"));
  EXPECT_EQ("http://h:81/tavrick/newsoft/x86/", BuildFolderOf("http://h:81/tavrick/newsoft/x86/,"));
  for (const char* bad : {"", "https://h/tavrick/newsoft/x64/,", "http://h/tavrick/newsoft/x65/,",
                          "http://h/tavrick/newsoft/x64/../,", "http://h /tavrick/newsoft/x64/,", "file://c/tavrick/newsoft/x64/"}) {
    EXPECT_EQ("", BuildFolderOf(bad)) << bad;
  }

  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", Sha256Hex(""));
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", Sha256Hex("abc"));
  EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
            Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
  CSha256 pieces;  // fed in odd pieces across block borders
  const std::string million(1000000, 'a');
  for (size_t at = 0; at < million.size(); at += 777) pieces.Update(million.data() + at, std::min<size_t>(777, million.size() - at));
  EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", pieces.HexDigest());
}

TEST(Updater, ManifestIsReadStrictly) {
  const std::string program = FileLine("tavrick.exe", "p");
  CBuildManifest manifest;
  std::string reason;
  ASSERT_TRUE(ParseManifest("version 2.40\n" + program + "\n" + FileLine("Scriptviruslib.dll", "s"), manifest, reason));
  EXPECT_EQ("2.40", manifest.strVersion);
  ASSERT_EQ(2u, manifest.files.size());
  EXPECT_EQ(1u, manifest.files[0].nSize);

  const std::string digest(64, 'a');
  for (const std::string& bad : std::vector<std::string>{
           program,                                                          // no version
           "version 2.40\n",                                                 // no program
           "version 2.40\nversion 2.41\n" + program,                         // two versions
           "version x\n" + program,                                          // no number
           "version 2.40\n" + program + program,                             // the same file twice
           "version 2.40\n" + program + "file TAVRICK.EXE 1 " + digest,       // ... in another case
           "version 2.40\n" + program + "file tavrick.cfg 1 " + digest,       // the configuration
           "version 2.40\n" + program + "file upgrade.ini 1 " + digest,       // the record
           "version 2.40\n" + program + "file ..\\x.exe 1 " + digest,         // a path
           "version 2.40\n" + program + "file log 1 " + digest,               // the log folder
           "version 2.40\n" + program + "file LOG 1 " + digest,               // ... in another case
           "version 2.40\n" + program + "file log.1 1 " + digest,             // ... or named like it
           "version 2.40\n" + program + "file tavrick.cfg.bak 1 " + digest,   // the configuration's copies
           "version 2.40\n" + program + "file tavrick.cfg.bak.tmp 1 " + digest,
           "version 2.40\n" + program + "file Tavrick.CFG.damaged 1 " + digest,
           "version 2.40\n" + program + "file nul.txt 1 " + digest,           // a device
           "version 2.40\n" + program + "file a.dll 1 " + std::string(64, 'A'),  // upper-case digest
           "version 2.40\n" + program + "file a.dll 99999999999999 " + digest,   // too big
           "version 2.40\n" + program + "file a.dll 1 " + digest + " more",      // more words
           "version 2.40\n" + program + "rm -rf\n",                              // anything else
           "version 2.40\n" + program + std::string(kMaxManifestBytes, '\n'),    // too long
       }) {
    EXPECT_FALSE(ParseManifest(bad, manifest, reason)) << bad;
    EXPECT_FALSE(reason.empty());
  }
}

TEST_F(UpdaterCase, InstallsWithRollbackCopyAndKeepsConfiguration) {
  EXPECT_EQ(0, updater.Run(kCommand));
  EXPECT_EQ("new program", ports.files["tavrick.exe"]);
  EXPECT_EQ("new library", ports.files["helper.dll"]);
  EXPECT_EQ("old program", ports.files["upgrade.old\\tavrick.exe"]);
  EXPECT_EQ(0u, ports.files.count("upgrade.old\\helper.dll"));
  EXPECT_EQ("[sysice]", ports.files["tavrick.cfg"]);
  EXPECT_EQ("x", ports.files["log\\2024-1-1.log"]);
  EXPECT_EQ(0u, ports.files.count("upgrade.new\\tavrick.exe"));
  EXPECT_EQ(1, ports.starts);
  EXPECT_EQ("new program", ports.startedBytes);
  EXPECT_EQ("installed", ports.record["result"]);
  EXPECT_EQ(kCommand, ports.record["commandline"]);
}

// While the program protects: the stage writes into upgrade.new alone, never waits for the
// program or takes its name, leaves the record alone, and says by its exit code how it went.
TEST_F(UpdaterCase, AStageOnlyDownloadsAndChecksIntoUpgradeNew) {
  const std::string stage = "upgrade.exe /stage 2.40 2.36 " + kFolder + ",a,b";
  ports.record["result"] = "installing";  // even an interrupted update is left to the next start
  const auto before = ports.files;
  const auto record = ports.record;
  EXPECT_EQ(kStagedExitCode, updater.Run(stage));
  auto expected = before;
  expected["upgrade.new\\tavrick.exe"] = "new program";
  expected["upgrade.new\\helper.dll"] = "new library";
  EXPECT_EQ(expected, ports.files);
  EXPECT_EQ(record, ports.record);
  EXPECT_EQ(0, ports.waits);
  EXPECT_EQ(0, ports.starts);
  EXPECT_TRUE(ports.programRunning);

  // A failed check stages nothing under the file's name and still touches nothing else.
  SetUp();
  ports.served[kFolder + "helper.dll"] = "new librarY";
  ports.files["upgrade.new\\helper.dll"] = "new libr";  // left by a stage cut off
  EXPECT_EQ(kStageFailedExitCode, updater.Run(stage));
  EXPECT_EQ(0u, ports.files.count("upgrade.new\\helper.dll"));
  EXPECT_EQ("old program", ports.files["tavrick.exe"]);
  EXPECT_EQ(0u, ports.files.count("helper.dll"));
  EXPECT_EQ(0u, ports.record.count("result"));
  EXPECT_EQ("摘要不符: helper.dll", ports.record[kStageReasonKey]);  // for the program's log
  EXPECT_EQ(0, ports.waits + ports.starts);

  // Another version than the one asked for, an older one, a link at upgrade.new, a bad line.
  const std::string lines[] = {"upgrade.exe /stage 2.41 2.36 " + kFolder + ",",
                               "upgrade.exe /stage 2.40 2.50 " + kFolder + ",", "upgrade.exe /stage 2.40 " + kFolder + ",",
                               "upgrade.exe /stage"};
  for (const std::string& line : lines) {
    SetUp();
    EXPECT_EQ(kStageFailedExitCode, updater.Run(line)) << line;
    EXPECT_TRUE(StagedNothing()) << line;
    EXPECT_EQ(0, ports.waits + ports.starts) << line;
  }
  SetUp();
  ports.links.insert("upgrade.new");
  EXPECT_EQ(kStageFailedExitCode, updater.Run(stage));
  EXPECT_TRUE(StagedNothing());
}

// The install after a hand-over keeps what the stage verified and fetches only the rest: a staged
// file changed or cut short since is downloaded again, never installed.
TEST_F(UpdaterCase, TheInstallReusesOnlyStagedFilesThatVerifyAgain) {
  ports.files["upgrade.new\\tavrick.exe"] = "new program";
  ports.files["upgrade.new\\helper.dll"] = "evil librar";  // same size, other bytes
  ports.served.erase(kFolder + "tavrick.exe");  // staged already: not asked for again
  EXPECT_EQ(0, updater.Run(kCommand));
  EXPECT_EQ("new program", ports.files["tavrick.exe"]);
  EXPECT_EQ("new library", ports.files["helper.dll"]);
  EXPECT_EQ("installed", ports.record["result"]);

  SetUp();
  ports.files["upgrade.new\\tavrick.exe"] = "new prog";  // cut short, and the service fails now
  ports.served.erase(kFolder + "tavrick.exe");
  EXPECT_EQ(1, updater.Run(kCommand));
  ExpectOldKept("下载失败: tavrick.exe");

  SetUp();
  ports.links.insert("upgrade.new");
  EXPECT_EQ(1, updater.Run(kCommand));
  ExpectOldKept("无法使用目录upgrade.new(无法建立,或是链接)");
}

TEST_F(UpdaterCase, BadDownloadsKeepTheOldProgram) {
  ports.served[kFolder + "helper.dll"] = "new libr";  // cut short
  EXPECT_EQ(1, updater.Run(kCommand));
  ExpectOldKept("大小不符: helper.dll");

  SetUp();
  ports.served[kFolder + "helper.dll"] = "new librarY";  // same size, other bytes
  EXPECT_EQ(1, updater.Run(kCommand));
  ExpectOldKept("摘要不符: helper.dll");

  SetUp();
  ports.served[kFolder + "helper.dll"] = "new library and more";  // longer than published
  EXPECT_EQ(1, updater.Run(kCommand));
  ExpectOldKept("下载失败: helper.dll");

  SetUp();
  ports.served.erase(kFolder + "manifest.txt");
  EXPECT_EQ(1, updater.Run(kCommand));
  ExpectOldKept("下载文件清单失败");

  SetUp();
  Publish("2.30", "new program", "new library");  // not what the program handed over for
  EXPECT_EQ(1, updater.Run(kCommand));
  ExpectOldKept("新版本目录是2.30版,不是2.40版");

  SetUp();
  ports.record.erase("version");
  Publish("2.30", "new program", "new library");  // older than the program
  EXPECT_EQ(1, updater.Run(kCommand));
  ExpectOldKept("新版本目录是旧版本2.30");

  SetUp();
  EXPECT_EQ(1, updater.Run("upgrade.exe http://elsewhere/x.exe,"));
  ExpectOldKept("命令行不是新版本目录");
}

// Whoever answers for the service can serve any bytes: only a manifest the vendor signed for this
// folder, of the version handed over for, lets anything be downloaded into upgrade.new.
TEST_F(UpdaterCase, OnlyTheVendorsSignedManifestOfTheVersionHandedOverForIsUsed) {
  const std::string manifest = kFolder + "manifest.txt";
  const std::string signature = manifest + ".sig";
  std::string& served = ports.served[manifest];
  served[served.find("helper.dll ") + 11] = '9';  // one byte of a size
  EXPECT_EQ(1, updater.Run(kCommand));
  ExpectOldKept("文件清单签名不符");
  EXPECT_TRUE(StagedNothing());

  // A file swapped, with its size and digest put into the list: the vendor never signed that list.
  SetUp();
  const std::string signedFile = ports.served[signature];
  Publish("2.40", "new program", "other library");
  ports.served[signature] = signedFile;
  EXPECT_EQ(1, updater.Run(kCommand));
  ExpectOldKept("文件清单签名不符");
  EXPECT_TRUE(StagedNothing());

  // The x86 folder's signed list served for x64, a list signed by another key, no signature.
  SetUp();
  ports.served[signature] = StandInSignatureFile(ManifestSignedText("x86", ports.served[manifest]));
  EXPECT_EQ(1, updater.Run(kCommand));
  ExpectOldKept("文件清单签名不符");
  SetUp();
  unsigned char otherSeed[32] = {7}, otherSignature[64];
  Ed25519Sign(otherSeed, ManifestSignedText("x64", ports.served[manifest]), otherSignature);
  ports.served[signature] = ToHex(otherSignature, 64);
  EXPECT_EQ(1, updater.Run(kCommand));
  ExpectOldKept("文件清单签名不符");
  SetUp();
  ports.served.erase(signature);
  EXPECT_EQ(1, updater.Run(kCommand));
  ExpectOldKept("下载文件清单签名失败");
  EXPECT_TRUE(StagedNothing());

  // An older build the vendor did sign, served again: refused before any of it is downloaded.
  SetUp();
  Publish("2.30", "old signed program", "old signed library");
  EXPECT_EQ(1, updater.Run(kCommand));
  ExpectOldKept("新版本目录是2.30版,不是2.40版");
  EXPECT_TRUE(StagedNothing());
  SetUp();
  ports.record.erase("version");
  Publish("2.30", "old signed program", "old signed library");
  EXPECT_EQ(1, updater.Run(kCommand));
  ExpectOldKept("新版本目录是旧版本2.30");
  EXPECT_TRUE(StagedNothing());
}

TEST_F(UpdaterCase, FailedReplacementOrNewBuildRollsBack) {
  ports.failMoves = {"helper.dll"};  // the program file is already replaced when this fails
  EXPECT_EQ(1, updater.Run(kCommand));
  ExpectOldKept("无法替换: helper.dll");

  SetUp();
  ports.files["helper.dll"] = "old library";
  ports.newComesUp = false;
  EXPECT_EQ(1, updater.Run(kCommand));
  EXPECT_EQ("old program", ports.files["tavrick.exe"]);
  EXPECT_EQ("old library", ports.files["helper.dll"]);
  EXPECT_EQ(2, ports.starts);  // the new build, then the old program again
  EXPECT_EQ("old program", ports.startedBytes);
  EXPECT_EQ("新程序无法运行,已恢复旧程序", ports.record["reason"]);
  EXPECT_EQ("failed", ports.record["result"]);

  // A restore that fails is recorded as failed, never as a restore.
  SetUp();
  ports.files["helper.dll"] = "old library";
  ports.newComesUp = false;
  ports.failCopies = {"helper.dll"};
  EXPECT_EQ(1, updater.Run(kCommand));
  EXPECT_EQ("failed", ports.record["result"]);
  EXPECT_EQ("新程序无法运行,恢复旧程序失败: helper.dll", ports.record["reason"]);

  // An old program that never ends is neither replaced nor started a second time.
  SetUp();
  ports.oldEnds = false;
  EXPECT_EQ(1, updater.Run(kCommand));
  EXPECT_EQ("旧程序没有退出", ports.record["reason"]);
  EXPECT_EQ("old program", ports.files["tavrick.exe"]);
  EXPECT_EQ(0, ports.starts);
}

TEST_F(UpdaterCase, KilledInsideTheMoveLoopTheNextStartPutsTheOldBuildBack) {
  ports.files["helper.dll"] = "old library";
  ports.files["tavrick.exe"] = "old program";
  ports.served[kFolder + "extra.dll"] = "extra";
  ports.served[kFolder + "manifest.txt"] += FileLine("extra.dll", "extra");
  Sign();
  ports.movesBeforeDeath = 2;  // tavrick.exe and helper.dll are new, extra.dll not yet there
  EXPECT_THROW(updater.Run(kCommand), std::runtime_error);
  ASSERT_EQ("installing", ports.record["result"]);
  EXPECT_EQ("new program", ports.files["tavrick.exe"]);
  EXPECT_EQ(0, ports.starts);

  // The program started next hands the folder to the updater: the old build, whole.
  ports.movesBeforeDeath = -1;
  ports.programRunning = true;
  EXPECT_EQ(1, CUpdater(ports).Run("upgrade.exe restore"));
  EXPECT_EQ("old program", ports.files["tavrick.exe"]);
  EXPECT_EQ("old library", ports.files["helper.dll"]);
  EXPECT_EQ(0u, ports.files.count("extra.dll"));
  EXPECT_EQ("failed", ports.record["result"]);
  EXPECT_EQ("升级中断,已恢复旧程序", ports.record["reason"]);
  EXPECT_EQ(1, ports.starts);
  EXPECT_EQ("old program", ports.startedBytes);

  // Nothing left to restore: a second "restore" changes nothing and starts nothing.
  EXPECT_EQ(1, CUpdater(ports).Run("upgrade.exe restore"));
  EXPECT_EQ(1, ports.starts);
}

TEST_F(UpdaterCase, AnUpdaterThatFindsAnInterruptedInstallRestoresBeforeItsOwnUpdate) {
  ports.movesBeforeDeath = 1;
  EXPECT_THROW(updater.Run(kCommand), std::runtime_error);
  ports.movesBeforeDeath = -1;
  ports.failMoves = {"helper.dll"};  // its own update fails too: the old build is still whole
  EXPECT_EQ(1, CUpdater(ports).Run(kCommand));
  EXPECT_EQ("old program", ports.files["tavrick.exe"]);
  EXPECT_EQ(0u, ports.files.count("helper.dll"));
  EXPECT_EQ("无法替换: helper.dll", ports.record["reason"]);

  ports.failMoves.clear();
  ports.movesBeforeDeath = 1;
  EXPECT_THROW(CUpdater(ports).Run(kCommand), std::runtime_error);
  ports.movesBeforeDeath = -1;
  EXPECT_EQ(0, CUpdater(ports).Run(kCommand));
  EXPECT_EQ("new program", ports.files["tavrick.exe"]);
  EXPECT_EQ("installed", ports.record["result"]);
}

TEST_F(UpdaterCase, ProtectionCarriesOverToWhicheverBuildComesUp) {
  ports.record["protect"] = "1";
  EXPECT_EQ(0, updater.Run(kCommand));
  EXPECT_EQ("new program", ports.startedBytes);
  EXPECT_EQ("rebootup", ports.startedWords);

  SetUp();
  ports.record["protect"] = "1";
  ports.newComesUp = false;
  EXPECT_EQ(1, updater.Run(kCommand));
  EXPECT_EQ("old program", ports.startedBytes);
  EXPECT_EQ("rebootup", ports.startedWords);

  SetUp();
  ports.served.erase(kFolder + "manifest.txt");
  EXPECT_EQ(1, updater.Run(kCommand));
  EXPECT_EQ("", ports.startedWords);  // it did not protect: it does not start to
}

TEST_F(UpdaterCase, GivingUpOnAnotherUpdaterBringsTheProgramBack) {
  ports.record["protect"] = "1";
  EXPECT_EQ(1, updater.GiveUpWaiting());
  EXPECT_EQ("failed", ports.record["result"]);
  EXPECT_EQ("另一个升级程序没有结束", ports.record["reason"]);
  EXPECT_EQ(1, ports.starts);
  EXPECT_EQ("rebootup", ports.startedWords);
  // The first one is replacing files (or died doing so): its mark stays for the restore, and
  // nothing is started over a folder half replaced.
  for (const char* state : {"installing", "starting"}) {
    ports.record["result"] = state;
    ports.record["reason"] = "";
    EXPECT_EQ(1, updater.GiveUpWaiting());
    EXPECT_EQ(state, ports.record["result"]);
    EXPECT_EQ("", ports.record["reason"]);
    EXPECT_EQ(1, ports.starts);
  }
}

}  // namespace
