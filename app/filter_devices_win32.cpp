#include "app/filter_devices_win32.h"

#include <windows.h>

#include "config/config_keeper.h"
#include "config/daily_log.h"
#include "config/daily_log_win32.h"
#include "driver/driver_link.h"
#include "driver/driver_win32.h"
#include "wfpfilter/system_capture_win32.h"
#include "wfpfilter/user_mode_device.h"
#include "wfpfilter/wfp_engine_win32.h"

namespace {

std::string g_engineReason;
std::string g_engineLibrary = kFwpLibrary;

void LogFilterLine(const std::string& line) {
  CWin32LogFileSystem fs;
  AppendLog(fs, LogClock(fs.LocalNow()) + line + "\r\n", kLogFolder, kConfigLogPrefix);
}

CSystemPacketCapture& Capture() {
  static CSystemPacketCapture capture;
  return capture;
}

CUserModeDevice& UserModeDevice() {
  static CWin32WfpEngine engine(g_engineLibrary.c_str());
  static CUserModeDevice device(engine, &Capture(), LogFilterLine);
  return device;
}

// Membership of the Administrators group counts only in an elevated token: under UAC the
// group is there but for deny only, and CheckTokenMembership says no.
bool RunsAsAdministrator() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &admins)) {
    return true;  // cannot tell: let the filters' own refusals speak
  }
  BOOL member = FALSE;
  if (!CheckTokenMembership(nullptr, admins, &member)) member = TRUE;
  FreeSid(admins);
  return member != FALSE;
}

}  // namespace

CFilterFacts ProbeFilterFacts(FilterDeviceSetting setting) {
  CFilterFacts facts;
  g_engineReason.clear();
  facts.bAdministrator = RunsAsAdministrator();
  if (!facts.bAdministrator) return facts;
  SetDevicePort(&Win32Device());
  facts.bDriverOpens = ::ProbeDevice();
  if (setting == FilterDeviceSetting::kDriver) return facts;
  if (setting == FilterDeviceSetting::kAuto && facts.bDriverOpens) return facts;
  // Forced to the engine, its own answer decides: the service check only keeps the automatic
  // choice away from a system without one (Wine's stubs).
  const CWfpProbeResult probe = WfpProbe(g_engineLibrary.c_str(), setting == FilterDeviceSetting::kAuto);
  facts.bEngineUsable = probe.Available();
  if (!facts.bEngineUsable) {
    g_engineReason = probe.message;
    char code[16];
    wsprintfA(code, "%08X", static_cast<unsigned>(probe.code));
    LogFilterLine("Windows筛选平台不可用:" + probe.message + " (0x" + code + ")");
  }
  return facts;
}

std::string EngineUnusableReason() { return g_engineReason; }

void UseFilterDevice(FilterRoute route) {
  if (route == FilterRoute::kUserMode) {
    SetDevicePort(&UserModeDevice());
  } else {
    SetDevicePort(&Win32Device());
  }
}

bool UserModeFilterInUse() { return DevicePort() == &UserModeDevice(); }

std::string UserModeCaptureText() {
  if (DevicePort() != &UserModeDevice()) return std::string();
  const CSystemPacketCapture& capture = Capture();
  return std::string(CaptureModeText(capture.Mode())) + (capture.Why().empty() ? "" : ":" + capture.Why());
}

void SetFilterEngineLibrary(const std::string& path) { g_engineLibrary = path; }
