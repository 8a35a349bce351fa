#include "driver/driver_install.h"

const char kSetupLibraryName[] = "setupdriver.dll";
const char kSetupExportName[] = "installmydriver";
const char kDriverComponentId[] = "MS_FIREWALLDRIVER";
const char* const kDriverPackageFiles[3] = {"netsf.inf", "netsf_m.inf", "firewalldriver.sys"};
const char kUnsignedDriverText[] =
    "您使用的是64位操作系统,目前驱动没有做签名。如需帮助,请联系Tavrick技术支持。";

int SystemBitsFromArchitecture(int processorArchitecture) {
  return (processorArchitecture == 9 || processorArchitecture == 6) ? 64 : 32;
}

int InstallDriver(IDriverSetupPorts& ports, bool refuseOn64BitSystem) {
  const bool system64 = ports.SystemBits() == 64;
  const bool loaded = ports.LoadSetupLibrary(kSetupLibraryName);
  // The refusal does not depend on the library: it is shown on every attempt.
  if (system64 && refuseOn64BitSystem) {
    ports.ShowMessage(kUnsignedDriverText);
    if (loaded) ports.UnloadSetupLibrary();
    return kInstallFailed;
  }
  if (!loaded) return kInstallFailed;
  int result = kInstallFailed;
  const std::string inf = ports.ProgramDir() + "\\netsf.inf";
  if (!ports.CallInstall(kSetupExportName, inf, kDriverComponentId, kDriverInstallFlag, &result)) {
    result = kInstallFailed;
  }
  ports.UnloadSetupLibrary();
  return result;
}

void StageDriverFiles(IStagingPorts& ports, const std::string& programDir,
                      const std::string& windowsDir) {
  for (const char* name : kDriverPackageFiles) {
    const std::string to = windowsDir + "\\inf\\" + name;
    if (ports.FileExists(to)) continue;
    ports.CopyNew(programDir + "\\" + name, to);
  }
}
