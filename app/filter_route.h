#pragma once
// Which packet filter protects: the vendor's driver when its device opens, otherwise the
// user-mode filter on the Windows Filtering Platform where the engine answers, otherwise the
// driver's installation as before. A setting can force either.
#include <string>

// [sysice] filterdevice: "auto" (or anything else), "driver", "wfp".
enum class FilterDeviceSetting { kAuto, kDriver, kUserMode };
FilterDeviceSetting ParseFilterDeviceSetting(const std::string& value);

enum class FilterRoute {
  kDriver,    // the driver's flow: installation question, setup library, device
  kUserMode,  // the user-mode device: no question, no installation
  kRefused,   // nothing may start: the reason is shown
};

struct CFilterFacts {
  bool bAdministrator = true;   // the process runs with administrator rights
  bool bDriverOpens = false;    // the driver's device opens now
  bool bEngineUsable = false;   // the filtering engine answered
};

FilterRoute ChooseFilterRoute(FilterDeviceSetting setting, const CFilterFacts& facts);

namespace routemsg {
extern const char kNoRights[];         // no administrator rights
extern const char kEngineUnusable[];   // the setting asks for the user-mode filter, which cannot run
extern const char kNeitherFilter[];    // after "驱动安装失败!": nor can the user-mode filter run
extern const char kDriverName[];       // the status bar's name of the driver
extern const char kUserModeName[];     // the status bar's name of the user-mode filter
}  // namespace routemsg
