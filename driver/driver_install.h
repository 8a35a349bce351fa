#pragma once
// Staging of the driver package and its installation through the setup library.
#include <string>

extern const char kSetupLibraryName[];      // "setupdriver.dll"
extern const char kSetupExportName[];       // "installmydriver"
extern const char kDriverComponentId[];     // "MS_FIREWALLDRIVER"
constexpr int kDriverInstallFlag = 115;
extern const char* const kDriverPackageFiles[3];  // netsf.inf, netsf_m.inf, firewalldriver.sys
extern const char kUnsignedDriverText[];    // refusal shown on a 64-bit system

// Installation results as the program reads them.
constexpr int kInstallFailed = 0;
constexpr int kInstalledNow = 1;
constexpr int kInstalledAlready = 2;
constexpr int kInstalledNeedsRestart = 100;

// 64 for processor architecture 9 (x64) or 6 (Itanium), else 32.
int SystemBitsFromArchitecture(int processorArchitecture);

// What installation needs from the system.
class IDriverSetupPorts {
 public:
  virtual ~IDriverSetupPorts() = default;
  virtual int SystemBits() = 0;
  virtual bool LoadSetupLibrary(const char* name) = 0;
  // Calls the library's export with the .inf path and component id (both ANSI here, widened
  // to UTF-16 on the way); false when the export does not exist.
  virtual bool CallInstall(const char* exportName, const std::string& infPath,
                           const std::string& componentId, int flag, int* result) = 0;
  virtual void UnloadSetupLibrary() = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  virtual std::string ProgramDir() = 0;  // no trailing backslash
};

// The 32-bit program refuses on a 64-bit system (its package carries no signed 64-bit
// driver); a 64-bit build ships a 64-bit package and goes on.
int InstallDriver(IDriverSetupPorts& ports, bool refuseOn64BitSystem);

class IStagingPorts {
 public:
  virtual ~IStagingPorts() = default;
  virtual bool FileExists(const std::string& path) = 0;
  virtual bool CopyNew(const std::string& from, const std::string& to) = 0;  // never overwrites
};

// Copies each package file from the program folder into <windows>\inf\ unless it is there.
void StageDriverFiles(IStagingPorts& ports, const std::string& programDir,
                      const std::string& windowsDir);
