#include "standin_driver_win32.h"

#include <windows.h>

#include <cstring>

#include "common/crt_text.h"
#include "driver/driver_link.h"
#include "driver/driver_win32.h"

const char kDriverServiceName[] = "firewalldriver";

namespace {

constexpr size_t kInjectSize = 28;
constexpr size_t kCountersHeader = 80;

bool Control(uint32_t code, const void* in, DWORD inSize, void* out, DWORD outSize,
             DWORD* returned) {
  const HANDLE h = CreateFileA(kDeviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD got = 0;
  const BOOL ok = DeviceIoControl(h, code, const_cast<void*>(in), inSize, out, outSize, &got,
                                  nullptr);
  CloseHandle(h);
  if (returned) *returned = got;
  return ok != FALSE;
}

bool DeviceGone() {
  const HANDLE h = CreateFileA(kDeviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return true;
  CloseHandle(h);
  return false;
}

}  // namespace

void RemoveDriverService() {
  const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return;
  const SC_HANDLE service = OpenServiceA(manager, kDriverServiceName, SERVICE_ALL_ACCESS);
  if (service != nullptr) {
    SERVICE_STATUS status{};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 100; ++i) {
      if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED) break;
      Sleep(50);
    }
    DeleteService(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  for (int i = 0; i < 100 && !DeviceGone(); ++i) Sleep(50);
}

bool EnsureDriverLoaded() {
  SetDevicePort(&Win32Device());
  if (!ProbeDevice()) {
    const int result = InstallDriver();
    if ((result != 1 && result != 2) || !ProbeDevice()) return false;
  }
  if (DriverInTestMode()) return true;
  return SetDriverTestMode(true) && RestartDriverService() && DriverInTestMode();
}

bool SetDriverTestMode(bool on) {
  const std::string key = std::string("SYSTEM\\CurrentControlSet\\Services\\") + kDriverServiceName;
  HKEY h = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const DWORD one = 1;
  const LONG result = on ? RegSetValueExA(h, "TestMode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one)
                         : RegDeleteValueA(h, "TestMode");
  RegCloseKey(h);
  return result == ERROR_SUCCESS || (!on && result == ERROR_FILE_NOT_FOUND);
}

bool RestartDriverService() {
  const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return false;
  const SC_HANDLE service = OpenServiceA(manager, kDriverServiceName, SERVICE_ALL_ACCESS);
  bool running = false;
  if (service != nullptr) {
    SERVICE_STATUS status{};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 100; ++i) {
      if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED) break;
      Sleep(50);
    }
    for (int i = 0; i < 100 && !DeviceGone(); ++i) Sleep(50);
    if (StartServiceA(service, 0, nullptr)) {
      for (int i = 0; i < 100 && !running; ++i) {
        running = QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING && !DeviceGone();
        if (!running) Sleep(50);
      }
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return running;
}

bool DriverInTestMode() {
  uint8_t out[kCountersHeader] = {};
  DWORD got = 0;
  return Control(kIoctlCounters, nullptr, 0, out, sizeof out, &got) && got == sizeof out;
}

bool InjectPackets(const std::vector<CInjectPacket>& packets, uint32_t* recorded,
                   uint32_t* dropped) {
  std::vector<uint8_t> in(packets.size() * kInjectSize);
  for (size_t i = 0; i < packets.size(); ++i) {
    const CInjectPacket& p = packets[i];
    uint8_t* at = &in[i * kInjectSize];
    PutLe32(at, p.nProtocol);
    PutLe32(at + 4, p.dwSrcIP);
    PutLe32(at + 8, p.dwDstIP);
    PutLe16(at + 12, p.wSrcPort);
    PutLe16(at + 14, p.wDstPort);
    PutLe32(at + 16, p.dwSize);
    PutLe32(at + 20, p.dwCount);
    PutLe32(at + 24, p.bOutgoing ? 1 : 0);
  }
  uint8_t out[8] = {};
  DWORD got = 0;
  if (!Control(kIoctlInject, in.data(), static_cast<DWORD>(in.size()), out, sizeof out, &got)) {
    return false;
  }
  if (recorded) *recorded = GetLe32(out);
  if (dropped) *dropped = GetLe32(out + 4);
  return got == sizeof out;
}

bool ReadCounters(CDriverCounters* c) {
  std::vector<uint8_t> out(kCountersHeader + 1024 * 8 + 4096 * 28);
  DWORD got = 0;
  if (!Control(kIoctlCounters, nullptr, 0, out.data(), static_cast<DWORD>(out.size()), &got) ||
      got < kCountersHeader) {
    return false;
  }
  const uint8_t* p = out.data();
  c->dwFiltering = GetLe32(p);
  c->dwInjected = GetLe32(p + 4);
  c->dwRecorded = GetLe32(p + 8);
  c->dwDroppedBlocked = GetLe32(p + 12);
  c->dwDroppedPing = GetLe32(p + 16);
  c->dwOverwritten = GetLe32(p + 20);
  c->dwPending = GetLe32(p + 24);
  c->dwFetches = GetLe32(p + 28);
  const uint32_t nExceptions = GetLe32(p + 32);
  const uint32_t nBlocked = GetLe32(p + 36);
  c->dwPingActive = GetLe32(p + 40);
  c->ping = DecodePingRule(p + 44);
  c->exceptions.assign(nExceptions, {});
  c->blocked.assign(nBlocked, {});
  size_t at = kCountersHeader;
  for (auto& e : c->exceptions) {
    std::memcpy(e.data(), p + at, e.size());
    at += e.size();
  }
  for (auto& b : c->blocked) {
    std::memcpy(b.data(), p + at, b.size());
    at += b.size();
  }
  return at == got;
}

bool ResetDriver(uint32_t what) {
  uint8_t in[4];
  PutLe32(in, what);
  DWORD got = 0;
  return Control(kIoctlReset, in, sizeof in, nullptr, 0, &got);
}

bool FreshDriverAndClosedLink() {
  if (!EnsureDriverLoaded() || !ResetDriver(kResetPackets | kResetTables)) return false;
  g_hDevice = kInvalidDevice;
  MarkStopped();
  return true;
}

std::vector<CInjectPacket> Flood(const char* from, uint32_t count) {
  CInjectPacket packet;
  packet.nProtocol = 6;
  packet.dwSrcIP = InetAddr(from);
  packet.dwDstIP = InetAddr("192.0.2.200");
  packet.wSrcPort = 40000;
  packet.wDstPort = 80;
  packet.dwSize = 60;
  packet.dwCount = count;
  return {packet};
}

bool DriverBlocks(const char* ip) {
  CDriverCounters counters;
  if (!ReadCounters(&counters)) return false;
  for (const auto& entry : counters.blocked)
    if (GetLe32(entry.data()) == InetAddr(ip) && GetLe32(entry.data() + 4) == 0) return true;
  return false;
}
