#include "app/filter_route.h"

namespace routemsg {
const char kNoRights[] =
    "Tavrick没有管理员权限,无法启动防护。\n请右键点击Tavrick,选择\"以管理员身份运行\"。";
const char kEngineUnusable[] = "无法使用Windows筛选平台(WFP)启动防护:";
const char kNeitherFilter[] = "也无法使用Windows筛选平台(WFP):";
const char kDriverName[] = "驱动";
const char kUserModeName[] = "WFP";
}  // namespace routemsg

FilterDeviceSetting ParseFilterDeviceSetting(const std::string& value) {
  if (value == "driver") return FilterDeviceSetting::kDriver;
  if (value == "wfp") return FilterDeviceSetting::kUserMode;
  return FilterDeviceSetting::kAuto;
}

FilterRoute ChooseFilterRoute(FilterDeviceSetting setting, const CFilterFacts& facts) {
  // Neither filter can be driven without the rights; saying so beats a failed installation.
  if (!facts.bAdministrator) return FilterRoute::kRefused;
  switch (setting) {
    case FilterDeviceSetting::kDriver:
      return FilterRoute::kDriver;
    case FilterDeviceSetting::kUserMode:
      return facts.bEngineUsable ? FilterRoute::kUserMode : FilterRoute::kRefused;
    case FilterDeviceSetting::kAuto:
      break;
  }
  if (facts.bDriverOpens) return FilterRoute::kDriver;
  return facts.bEngineUsable ? FilterRoute::kUserMode : FilterRoute::kDriver;
}
