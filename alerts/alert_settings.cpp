#include "alerts/alert_settings.h"

#include "alerts/service_answers.h"
#include "alerts/service_host.h"
#include "config/ini_access.h"

namespace msgdlg {
const char kBadEmail[] = "您输入的电子邮件格式错误!";
const char kBadMobile[] = "您输入的移动电话格式错误!";
const char kBadServiceHost[] = "您输入的服务地址格式错误!";
const char kSaved[] = "保存成功!";
}  // namespace msgdlg

// Control ids of dialog 164 (common/resource.h holds the same numbers for the template).
const std::array<CAlertSwitch, kAlertSwitchCount> kAlertSwitches = {{
    {1082, "downchk", &CSettings::downchk},
    {1083, "ipfilterchk", &CSettings::ipfilterchk},
    {1085, "wormchk", &CSettings::wormchk},
    {1086, "diskchk", &CSettings::diskchk},
    {1090, "cpuchk", &CSettings::cpuchk},
    {1093, "memorychk", &CSettings::memorychk},
    {1087, "timerchk", &CSettings::timerchk},
    {1089, "userchk", &CSettings::userchk},
}};

namespace {

bool IsAsciiLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

bool IsValidEmailAddress(const std::string& address) {
  if (address.size() < 5 || address[0] == '@') return false;
  int ats = 0, dotsAfterAt = 0;
  for (size_t i = 1; i < address.size(); ++i) {
    const char c = address[i];
    if (!IsAsciiLetterOrDigit(c) && c != '-' && c != '.' && c != '_' && c != '@') continue;
    if (c == '@') ++ats;
    if (c == '.' && ats > 0) ++dotsAfterAt;
  }
  if (ats != 1 || dotsAfterAt < 1 || dotsAfterAt > 3) return false;
  if (address.back() == '.') return false;
  return address.find("@.", 1) == std::string::npos && address.find(".@", 1) == std::string::npos;
}

bool IsValidMobileNumber(const std::string& number) {
  if (number.size() != 11 || number[0] != '1') return false;
  for (char c : number)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string SmsBalanceLabel(const std::string& smsCount) { return "共" + TrimAnswer(smsCount) + "条"; }

std::string SaveAlertSettings(const CAlertForm& form, CSettings& settings, IProfileStore& store,
                              const std::function<void()>& ipAlertSwitchedOn,
                              const std::function<void()>& serviceHostChanged) {
  const bool ipAlertWasOn = settings.ipfilterchk;
  for (const CAlertSwitch& entry : kAlertSwitches) settings.*entry.pFlag = false;
  for (size_t i = 0; i < kAlertSwitches.size(); ++i) {
    const CAlertSwitch& entry = kAlertSwitches[i];
    settings.*entry.pFlag = form.switches[i];
    WriteIni(store, kConfigFile, ini::kMsg, entry.szKey, form.switches[i] ? "1" : "0");
  }
  if (settings.ipfilterchk && !ipAlertWasOn && ipAlertSwitchedOn) ipAlertSwitchedOn();

  const std::string email = form.bEmail ? form.strEmail : std::string();
  if (form.bEmail && !IsValidEmailAddress(email)) return msgdlg::kBadEmail;
  settings.strEmail = email;
  WriteIni(store, kConfigFile, ini::kMsg, "emil", email);

  const std::string phone = form.bSms ? form.strPhone : std::string();
  if (form.bSms && !IsValidMobileNumber(phone)) return msgdlg::kBadMobile;
  settings.strPhone = phone;
  WriteIni(store, kConfigFile, ini::kMsg, "phone", phone);

  const std::string host = TrimAnswer(form.strServiceHost);
  if (!ServiceHostFault(host).empty()) return msgdlg::kBadServiceHost;
  if (host == settings.strServiceHost) return msgdlg::kSaved;
  settings.strServiceHost = host;
  WriteIni(store, kConfigFile, ini::kMsg, kServiceHostKey, host);
  if (serviceHostChanged) serviceHostChanged();
  return msgdlg::kSaved;
}
