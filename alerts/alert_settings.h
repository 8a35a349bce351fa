#pragma once
// The alert settings window's decisions ("即时提醒", CMSGDLG): the eight alert switches, the
// e-mail and mobile checks, the service host, the save order with its messages, and the SMS
// balance label.
#include <array>
#include <functional>
#include <string>

#include "config/settings.h"

class IProfileStore;

namespace msgdlg {
extern const char kBadEmail[];   // "您输入的电子邮件格式错误!"
extern const char kBadMobile[];  // "您输入的移动电话格式错误!"
extern const char kBadServiceHost[];  // "您输入的服务地址格式错误!"
extern const char kSaved[];      // "保存成功!"
}  // namespace msgdlg

constexpr int kAlertSwitchCount = 8;

// One switch box: its control, its key in section "msg" and the setting it carries.
struct CAlertSwitch {
  int nControl;
  const char* szKey;
  bool CSettings::*pFlag;
};
// In the window's order: the order in which a save writes them.
extern const std::array<CAlertSwitch, kAlertSwitchCount> kAlertSwitches;

// At least 5 bytes, not starting with "@"; among the letters, digits, "-", ".", "_" and "@"
// after the first byte exactly one "@" and one to three "." after it (other bytes are passed
// over); not ending with "."; no "@." and no ".@" after the first byte.
bool IsValidEmailAddress(const std::string& address);
// Exactly 11 bytes, all digits, the first "1".
bool IsValidMobileNumber(const std::string& number);

// "共" + the trimmed balance + "条".
std::string SmsBalanceLabel(const std::string& smsCount);

// What the window holds when "保存" is pressed.
struct CAlertForm {
  std::array<bool, kAlertSwitchCount> switches{};  // in kAlertSwitches order
  bool bEmail = false;  // "电子邮件"
  std::string strEmail;
  bool bSms = false;  // "手机短信"
  std::string strPhone;
  std::string strServiceHost;  // "服务地址": "host[:port]", "" for the build-time host
};

// The save, in this order: every switch applied and its key written at once; then the e-mail
// address (checked when its box is ticked, "" otherwise), then the mobile number likewise,
// then the service host (trimmed, checked by ServiceHostFault).
// A refused value stops the save there: the switches stay saved, and the refused value
// (and anything after it) keeps its earlier value in memory and in the file, so the alerts
// never go to an address the file does not hold. Returns the message to show.
// ipAlertSwitchedOn runs when the blocked-IP alert goes from off to on, so that only later
// blocks are alerted; serviceHostChanged when the saved host differs from the one before.
std::string SaveAlertSettings(const CAlertForm& form, CSettings& settings, IProfileStore& store,
                              const std::function<void()>& ipAlertSwitchedOn,
                              const std::function<void()>& serviceHostChanged = nullptr);
