#include "webguard/watchfile_form.h"


#include "common/crt_text.h"
#include "webguard/script_checker.h"
#include "webguard/watch_types.h"

const char kNoWatchFolderMessage[] = "请选择web保护的文件夹!";
const char kNoWatchTypeMessage[] = "请选择web保护的文件类型!";
const char kLogLimitNotNumberMessage[] = "保存日志条数必须输入数字!";
const char kStartProtectCaption[] = "启动防护";
const char kStopProtectCaption[] = "停止防护";
const char kStopScanCaption[] = "停止扫描";
const char kFolderPickerPrompt[] = "请选择文件夹:";
const char kWatchHelpAnchor[] = "#webporocted";

CTypeSlots TypeSlotsFromBoxes(const std::array<bool, kWatchTypeCount>& checked) {
  CTypeSlots slots;
  for (int i = 0; i < kWatchTypeCount; ++i) slots[i] = checked[i] ? g_szWatchTypes[i] : "";
  return slots;
}

std::array<bool, kWatchTypeCount> BoxesFromTypeSlots(const CTypeSlots& slots) {
  std::array<bool, kWatchTypeCount> checked{};
  for (int i = 0; i < kWatchTypeCount; ++i) {
    for (const std::string& slot : slots) checked[i] = checked[i] || LowerGbk(slot) == g_szWatchTypes[i];
  }
  return checked;
}

CSwitchOnCheck CheckSwitchOn(const std::string& folder, const std::array<bool, kWatchTypeCount>& checked,
                             const std::string& logLimit) {
  CSwitchOnCheck check;
  if (folder.empty()) {
    check.strMessage = kNoWatchFolderMessage;
    return check;
  }
  check.slots = TypeSlotsFromBoxes(checked);
  bool any = false;
  for (bool on : checked) any = any || on;
  if (!any) {
    check.strMessage = kNoWatchTypeMessage;
  } else if (!ParseDigits(logLimit, &check.nLogLimit)) {
    check.strMessage = kLogLimitNotNumberMessage;
    check.bFocusLogLimit = true;
  }
  return check;
}

const char* ScanButtonCaption(bool scanning) { return scanning ? kStopScanCaption : kScanCaption; }
