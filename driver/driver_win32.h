#pragma once
// The Win32 side of the driver link and its installation.
#include <string>

#include "driver/device_port.h"
#include "driver/driver_install.h"

// The real device: CreateFileA / DeviceIoControl / CancelIo / CloseHandle.
class CWin32Device : public IDevice {
 public:
  DeviceHandle Open(const char* name) override;
  bool Control(DeviceHandle h, uint32_t code, const void* in, uint32_t inSize, void* out,
               uint32_t outSize, uint32_t* returned) override;
  bool Cancel(DeviceHandle h) override;
  bool Close(DeviceHandle h) override;
};

// The one device object of the process; the main window hands it to SetDevicePort.
CWin32Device& Win32Device();

// 64 or 32, from GetNativeSystemInfo looked up in kernel32 (GetSystemInfo without it).
int GetSystemBits();

// Folder of the running executable, no trailing backslash.
std::string ProgramFolder();

// Copies the package into the Windows inf folder, never over an existing file.
void StageDriverFiles();

// Installs through setupdriver.dll; the 32-bit build refuses on a 64-bit system.
int InstallDriver();

class CWin32DriverSetup : public IDriverSetupPorts {
 public:
  ~CWin32DriverSetup() override;
  int SystemBits() override;
  bool LoadSetupLibrary(const char* name) override;
  bool CallInstall(const char* exportName, const std::string& infPath,
                   const std::string& componentId, int flag, int* result) override;
  void UnloadSetupLibrary() override;
  void ShowMessage(const std::string& text) override;
  std::string ProgramDir() override;

 private:
  void* m_hLibrary = nullptr;
};
