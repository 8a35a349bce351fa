#pragma once
// The alert conditions watched here: a new member of the local Administrators group, a wrong
// system clock and suspicious files in the protected web folder. Each builds its text on the
// user-interface thread and hands it to an IAlertSender.
#include <cstdint>
#include <string>
#include <vector>

#include "common/local_users.h"

struct CSettings;

// One alert on its way: e-mail (when the address is set) first, then SMS (when the phone is
// set), both with the alert title; the SMS may carry a shorter text.
struct CAlert {
  std::string strEmail, strPhone;
  std::string strMailText, strSmsText;
};

class IAlertSender {
 public:
  virtual ~IAlertSender() = default;
  virtual void Send(const CAlert& alert) = 0;
};

// The alert with the settings' addresses and one text for both channels (nothing is sent
// when both addresses are empty).
void DispatchAlertText(const CSettings& settings, const std::string& message, IAlertSender& sender);

extern const char kNewAdminText[];     // "服务器刚刚创建一个administrators组帐号："
extern const char kNewAdminCheck[];    // "请核对是否是管理员创建!"
extern const char kClockAlertText[];   // "服务器系统时间可能与北京时间不同,请登录服务器核实!"
extern const char kUploadAlertHead[];  // "web目录有文件_"
extern const char kUploadAlertTail[];  // "可疑文件增加"
extern const char kUploadSmsReplacement[];  // the SMS text of an upload alert too long for one
constexpr size_t kUploadSmsLimit = 100;     // an upload alert this long or longer goes by e-mail only

// The members of Administrators at the last look (g_aAdminUsers). A failed listing is no
// evidence of anything: until one listing has succeeded there is no baseline, and the first
// check only takes one.
struct CAdminBaseline {
  std::vector<_userstruct> members;
  bool bKnown = false;
};

// At start-up.
void FillAdminBaseline(CAdminBaseline& baseline, ILocalUsers& users);
// The main window's 30-second check (checking: its re-entry guard). At most one account is
// named per run: the first member, in the system's order, missing from the baseline (compared
// by identifier or by the system's name, see SameAccount). After every successful listing the
// baseline becomes the members just listed, so each addition is reported once and an account
// removed and added again is reported again.
void CheckNewAdmin(bool& checking, CAdminBaseline& baseline, const CSettings& settings,
                   const std::vector<std::string>& localIps, ILocalUsers& users, IAlertSender& sender);

// The daily clock alert: once a skew has been recorded, every check repeats it.
void CheckClockAlert(const CSettings& settings, const std::string& clockSkew,
                     const std::vector<std::string>& localIps, IAlertSender& sender);

// A row of the website protection window's result list as the upload alert reads it.
struct CResultRowView {
  std::string strFile;
  std::string strType;
};

// The upload alert over the rows from the cursor on: one alert naming every suspicious row,
// the cursor moved past all of them. Nothing moves while wormchk is off.
void CheckUploadAlert(const CSettings& settings, const std::vector<CResultRowView>& rows, int32_t& cursor,
                      IAlertSender& sender);
// Its SMS text: the message, or the fixed replacement when the message is 100 bytes or longer.
std::string UploadSmsText(const std::string& message);
