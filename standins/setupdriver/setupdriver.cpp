// setupdriver.dll: installs firewalldriver.sys, found in the folder of the given .inf file, as a
// kernel driver service and starts it.
//
//   int __stdcall installmydriver(const wchar_t* infPath, const wchar_t* componentId, int flags)
//   1 = installed (or started) now, 2 = already installed and running, 0 = failure.
//
// The component id and flags are accepted as given: this package holds one driver only.
#include <windows.h>

#include <string>

namespace {

const wchar_t kServiceName[] = L"firewalldriver";
const wchar_t kDisplayName[] = L"Tavrick firewall filter";
const wchar_t kDriverFile[] = L"firewalldriver.sys";

class CScHandle {
 public:
  explicit CScHandle(SC_HANDLE h = nullptr) : m_h(h) {}
  ~CScHandle() { if (m_h) CloseServiceHandle(m_h); }
  CScHandle(const CScHandle&) = delete;
  CScHandle& operator=(const CScHandle&) = delete;
  void Reset(SC_HANDLE h) { if (m_h) CloseServiceHandle(m_h); m_h = h; }
  SC_HANDLE Get() const { return m_h; }
  explicit operator bool() const { return m_h != nullptr; }

 private:
  SC_HANDLE m_h;
};

DWORD CurrentState(SC_HANDLE service) {
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service, &status)) return 0;
  return status.dwCurrentState;
}

// The driver's DriverEntry runs in its own host process; give it a few seconds to get there.
bool WaitRunning(SC_HANDLE service) {
  for (int i = 0; i < 100; ++i) {
    const DWORD state = CurrentState(service);
    if (state == SERVICE_RUNNING) return true;
    if (state == SERVICE_STOPPED && i > 10) return false;
    Sleep(50);
  }
  return false;
}

bool Start(SC_HANDLE service) {
  if (!StartServiceW(service, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
    return false;
  }
  return WaitRunning(service);
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

}  // namespace

extern "C" __declspec(dllexport) int __stdcall installmydriver(const wchar_t* infPath,
                                                              const wchar_t* componentId,
                                                              int flags) {
  (void)flags;
  if (infPath == nullptr || componentId == nullptr) return 0;
  if (GetFileAttributesW(infPath) == INVALID_FILE_ATTRIBUTES) return 0;
  const std::wstring driver = FolderOf(infPath) + L"\\" + kDriverFile;
  if (GetFileAttributesW(driver.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;

  CScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return 0;
  CScHandle service(OpenServiceW(manager.Get(), kServiceName, SERVICE_ALL_ACCESS));
  if (service) {
    if (CurrentState(service.Get()) == SERVICE_RUNNING) return 2;
    return Start(service.Get()) ? 1 : 0;
  }
  // A service that is still being deleted cannot be created again until it is gone.
  for (int attempt = 0; attempt < 50; ++attempt) {
    service.Reset(CreateServiceW(manager.Get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                 SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                 SERVICE_ERROR_NORMAL, driver.c_str(), nullptr, nullptr,
                                 nullptr, nullptr, nullptr));
    if (service || GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) break;
    Sleep(100);
  }
  if (!service) return 0;
  return Start(service.Get()) ? 1 : 0;
}
