#pragma once
// The decisions of the website protection window: what its switch-on requires, the type slots
// from its check boxes, its button captions and the scan button's blinking.
#include <array>
#include <string>

#include "config/settings.h"

extern const char kNoWatchFolderMessage[];   // "请选择web保护的文件夹!"
extern const char kNoWatchTypeMessage[];     // "请选择web保护的文件类型!"
extern const char kLogLimitNotNumberMessage[];  // "保存日志条数必须输入数字!"
extern const char kStartProtectCaption[];    // "启动防护"
extern const char kStopProtectCaption[];     // "停止防护"
extern const char kStopScanCaption[];        // "停止扫描"
extern const char kFolderPickerPrompt[];     // "请选择文件夹:"
extern const char kWatchHelpAnchor[];        // "#webporocted"

using CTypeSlots = std::array<std::string, kWatchTypeCount>;

// Slot i holds type i's name when its box is checked, else "".
CTypeSlots TypeSlotsFromBoxes(const std::array<bool, kWatchTypeCount>& checked);
// A box is checked when its caption equals (ignoring case) any slot.
std::array<bool, kWatchTypeCount> BoxesFromTypeSlots(const CTypeSlots& slots);

// What switching upload protection on asks of the window's fields, in order: a folder, a type,
// and a log limit of digits only. An empty message means it may go on, with these slots and
// this log limit.
struct CSwitchOnCheck {
  std::string strMessage;
  bool bFocusLogLimit = false;  // the log limit field gets the focus after the message
  CTypeSlots slots;
  int nLogLimit = 0;
};
CSwitchOnCheck CheckSwitchOn(const std::string& folder, const std::array<bool, kWatchTypeCount>& checked,
                             const std::string& logLimit);

// The switch shows what it would do: "停止防护" while upload protection runs.
inline const char* ProtectCaption(bool protecting) { return protecting ? kStopProtectCaption : kStartProtectCaption; }
const char* ScanButtonCaption(bool scanning);

// The scan button's icon for a tick of the animation (blink counter n).
constexpr int kScanRestIcon = 224;
constexpr int kScanBlinkIcon = 265;
inline int ScanBlinkIcon(int blink) { return blink % 2 == 0 ? kScanBlinkIcon : kScanRestIcon; }
