// Installation decisions and staging with the system faked.
#include "driver/driver_install.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

class CFakeSetup : public IDriverSetupPorts {
 public:
  int bits = 32;
  bool libraryPresent = true;
  bool exportPresent = true;
  int installResult = 1;
  std::vector<std::string> log;

  int SystemBits() override { return bits; }
  bool LoadSetupLibrary(const char* name) override {
    log.push_back(std::string("load ") + name);
    return libraryPresent;
  }
  bool CallInstall(const char* exportName, const std::string& infPath,
                   const std::string& componentId, int flag, int* result) override {
    log.push_back(std::string("call ") + exportName + " " + infPath + " " + componentId + " " +
                  std::to_string(flag));
    if (!exportPresent) return false;
    *result = installResult;
    return true;
  }
  void UnloadSetupLibrary() override { log.push_back("unload"); }
  void ShowMessage(const std::string& text) override { log.push_back("message " + text); }
  std::string ProgramDir() override { return "C:\\tools\\guard"; }
};

TEST(DriverInstall, SystemBitsFromArchitecture) {
  EXPECT_EQ(64, SystemBitsFromArchitecture(9));
  EXPECT_EQ(64, SystemBitsFromArchitecture(6));
  EXPECT_EQ(32, SystemBitsFromArchitecture(0));
  EXPECT_EQ(32, SystemBitsFromArchitecture(5));
  EXPECT_EQ(32, SystemBitsFromArchitecture(12));
}

TEST(DriverInstall, CallsTheSetupLibraryWithTheThreeArguments) {
  for (int code : {1, 2, 100, 7}) {
    CFakeSetup setup;
    setup.installResult = code;
    EXPECT_EQ(code, InstallDriver(setup, true));
    EXPECT_EQ((std::vector<std::string>{
                  "load setupdriver.dll",
                  "call installmydriver C:\\tools\\guard\\netsf.inf MS_FIREWALLDRIVER 115",
                  "unload"}),
              setup.log);
  }
}

TEST(DriverInstall, ThirtyTwoBitBuildRefusesOnSixtyFourBitSystem) {
  CFakeSetup setup;
  setup.bits = 64;
  EXPECT_EQ(0, InstallDriver(setup, true));
  ASSERT_EQ(3u, setup.log.size());
  EXPECT_EQ("load setupdriver.dll", setup.log[0]);
  const std::string text = "您使用的是64位操作系统,目前驱动没有做签名。";
  EXPECT_EQ(0u, setup.log[1].find("message " + text));
  EXPECT_EQ("unload", setup.log[2]);
  // Every attempt is refused the same way.
  EXPECT_EQ(0, InstallDriver(setup, true));
  EXPECT_EQ(6u, setup.log.size());
}

TEST(DriverInstall, SixtyFourBitBuildInstallsOnSixtyFourBitSystem) {
  CFakeSetup setup;
  setup.bits = 64;
  EXPECT_EQ(2, (setup.installResult = 2, InstallDriver(setup, false)));
  EXPECT_EQ(3u, setup.log.size());
  EXPECT_EQ(0u, setup.log[1].find("call "));
}

TEST(DriverInstall, MissingLibraryOrExportFails) {
  CFakeSetup noLib;
  noLib.libraryPresent = false;
  EXPECT_EQ(0, InstallDriver(noLib, true));
  EXPECT_EQ(1u, noLib.log.size());
  CFakeSetup noLib64;
  noLib64.libraryPresent = false;
  noLib64.bits = 64;
  EXPECT_EQ(0, InstallDriver(noLib64, true));
  ASSERT_EQ(2u, noLib64.log.size());
  EXPECT_EQ(0u, noLib64.log[1].find("message "));
  CFakeSetup noExport;
  noExport.exportPresent = false;
  EXPECT_EQ(0, InstallDriver(noExport, true));
  EXPECT_EQ("unload", noExport.log.back());
}

class CFakeFiles : public IStagingPorts {
 public:
  std::set<std::string> existing;
  std::vector<std::string> copies;
  bool FileExists(const std::string& path) override { return existing.count(path) != 0; }
  bool CopyNew(const std::string& from, const std::string& to) override {
    copies.push_back(from + ">" + to);
    if (existing.count(to)) return false;
    existing.insert(to);
    return true;
  }
};

TEST(DriverInstall, StagingNeverOverwrites) {
  CFakeFiles files;
  files.existing = {"C:\\windows\\inf\\netsf.inf"};
  StageDriverFiles(files, "C:\\tools\\guard", "C:\\windows");
  EXPECT_EQ((std::vector<std::string>{
                "C:\\tools\\guard\\netsf_m.inf>C:\\windows\\inf\\netsf_m.inf",
                "C:\\tools\\guard\\firewalldriver.sys>C:\\windows\\inf\\firewalldriver.sys"}),
            files.copies);
  files.copies.clear();
  StageDriverFiles(files, "C:\\tools\\guard", "C:\\windows");
  EXPECT_TRUE(files.copies.empty());
}

}  // namespace
