#include "driver/driver_win32.h"

#include <windows.h>

#include <vector>

#include "common/version.h"
#include "driver/driver_install.h"

namespace {

HANDLE ToHandle(DeviceHandle h) { return reinterpret_cast<HANDLE>(h); }

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

// The export as the system's own functions are called: two UTF-16 strings and an int.
using InstallFn = int(WINAPI*)(const wchar_t*, const wchar_t*, int);
using NativeInfoFn = void(WINAPI*)(LPSYSTEM_INFO);

class CWin32Staging : public IStagingPorts {
 public:
  bool FileExists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  bool CopyNew(const std::string& from, const std::string& to) override {
    return CopyFileA(from.c_str(), to.c_str(), TRUE) != 0;
  }
};

}  // namespace

DeviceHandle CWin32Device::Open(const char* name) {
  const HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  return reinterpret_cast<DeviceHandle>(h);  // INVALID_HANDLE_VALUE has all bits set
}

bool CWin32Device::Control(DeviceHandle h, uint32_t code, const void* in, uint32_t inSize,
                           void* out, uint32_t outSize, uint32_t* returned) {
  DWORD bytes = 0;
  const BOOL ok = DeviceIoControl(ToHandle(h), code, const_cast<void*>(in), inSize, out, outSize,
                                  &bytes, nullptr);
  if (returned != nullptr) *returned = bytes;
  return ok != FALSE;
}

bool CWin32Device::Cancel(DeviceHandle h) { return CancelIo(ToHandle(h)) != FALSE; }

bool CWin32Device::Close(DeviceHandle h) { return CloseHandle(ToHandle(h)) != FALSE; }

CWin32Device& Win32Device() {
  static CWin32Device device;
  return device;
}

int GetSystemBits() {
  SYSTEM_INFO info{};
  const HMODULE kernel = GetModuleHandleA("kernel32");
  const auto native = kernel != nullptr
                          ? reinterpret_cast<NativeInfoFn>(
                                reinterpret_cast<void*>(GetProcAddress(kernel, "GetNativeSystemInfo")))
                          : nullptr;
  if (native != nullptr) {
    native(&info);
  } else {
    GetSystemInfo(&info);
  }
  return SystemBitsFromArchitecture(info.wProcessorArchitecture);
}

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, n);
  const size_t slash = folder.find_last_of('\\');
  return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}

void StageDriverFiles() {
  char windows[MAX_PATH] = {};
  const UINT n = GetWindowsDirectoryA(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  CWin32Staging staging;
  StageDriverFiles(staging, ProgramFolder(), std::string(windows, n));
}

int InstallDriver() {
  CWin32DriverSetup setup;
  // Only the 32-bit program has no driver it may install on a 64-bit system.
  return InstallDriver(setup, kBuildBits == 32);
}

CWin32DriverSetup::~CWin32DriverSetup() { UnloadSetupLibrary(); }

int CWin32DriverSetup::SystemBits() { return GetSystemBits(); }

bool CWin32DriverSetup::LoadSetupLibrary(const char* name) {
  m_hLibrary = LoadLibraryA(name);
  return m_hLibrary != nullptr;
}

bool CWin32DriverSetup::CallInstall(const char* exportName, const std::string& infPath,
                                    const std::string& componentId, int flag, int* result) {
  if (m_hLibrary == nullptr) return false;
  const auto fn = reinterpret_cast<InstallFn>(
      reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_hLibrary), exportName)));
  if (fn == nullptr) return false;
  const std::wstring inf = Widen(infPath);
  const std::wstring id = Widen(componentId);
  *result = fn(inf.c_str(), id.c_str(), flag);
  return true;
}

void CWin32DriverSetup::UnloadSetupLibrary() {
  if (m_hLibrary != nullptr) {
    FreeLibrary(static_cast<HMODULE>(m_hLibrary));
    m_hLibrary = nullptr;
  }
}

void CWin32DriverSetup::ShowMessage(const std::string& text) {
  MessageBoxA(GetActiveWindow(), text.c_str(), kAppName, MB_OK);
}

std::string CWin32DriverSetup::ProgramDir() { return ProgramFolder(); }
