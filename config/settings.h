#pragma once
// Every setting of the configuration file, each field named after its key.
#include <array>
#include <cstdint>
#include <string>

#include "common/ip_entries.h"
#include "config/ip_lists.h"

class IClock;
class IProfileStore;

constexpr int kWatchTypeCount = 5;
extern const char* const g_szWatchTypes[kWatchTypeCount];  // asp, asa, aspx, php, jsp

struct CSettings {
  // [sysice]
  std::string sysicetimer = "5分钟";
  int sysiceipcount = 0;
  int sysiceipmb = 0;
  std::string runtray;
  // Which packet filter protects: "auto" (the vendor's driver when its device opens, else the
  // user-mode filter where the filtering engine answers), "driver" or "wfp".
  std::string filterdevice = "auto";
  // [ipwatchfile]
  std::string watchfileon = "off";
  std::string watchfilepath;
  std::array<std::string, kWatchTypeCount> watchfileext;  // slot i holds type i's name or ""
  int watchfilelogcount = 28;
  // [msg]
  bool downchk = false, ipfilterchk = false, wormchk = false, diskchk = false;
  bool cpuchk = false, memorychk = false, timerchk = false, userchk = false;
  std::string strEmail;  // key "emil"
  std::string strPhone;  // key "phone"
  // Key "servicehost": the vendor service's "host[:port]" as written; "" for the build-time
  // host (alerts/service_host.h checks it).
  std::string strServiceHost;
  // [ping]
  bool pingin = false, pingout = false;
  // [remote]
  std::string remotepassw;  // MD5 digest text of the remote password, or ""
  // [log]
  int logday = 90;
  // [sysice] onlinetime: protection seconds carried over from the last run
  int64_t llProtectSeconds = 0;
};

// The one set of settings of the process, read at start and changed by the working windows.
extern CSettings g_Settings;

// Section and key names, shared by the loader and by the code that writes each key.
namespace ini {
constexpr const char* kSysice = "sysice";
constexpr const char* kIpOuter = "ipouter";
constexpr const char* kIpFilter = "ipfilter";
constexpr const char* kWatch = "ipwatchfile";
constexpr const char* kMsg = "msg";
constexpr const char* kPing = "ping";
constexpr const char* kRemote = "remote";
constexpr const char* kLog = "log";
}  // namespace ini

// The one-time load at start-up: every key with its default, both lists, then the
// one-shot markers runtray and onlinetime written back as "0".
void LoadConfiguration(IProfileStore& store, IClock& clock, CSettings& settings, CIpFilterList& filters,
                       CIpOuterList& exceptions);

std::string EncodeWatchTypes(const std::array<std::string, kWatchTypeCount>& slots);
