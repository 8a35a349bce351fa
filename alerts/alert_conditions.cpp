#include "alerts/alert_conditions.h"

#include "alerts/service_answers.h"
#include "config/settings.h"

const char kNewAdminText[] = "服务器刚刚创建一个administrators组帐号：";
const char kNewAdminCheck[] = "请核对是否是管理员创建!";
const char kClockAlertText[] = "服务器系统时间可能与北京时间不同,请登录服务器核实!";
const char kUploadAlertHead[] = "web目录有文件_";
const char kUploadAlertTail[] = "可疑文件增加";
const char kUploadSmsReplacement[] = "web目录有大量文件变化,内容变化内容太长短信无法发送。请查看电子邮件! ";

namespace {
const char kSuspicious[] = "可疑";
}  // namespace

void DispatchAlertText(const CSettings& settings, const std::string& message, IAlertSender& sender) {
  if (settings.strEmail.empty() && settings.strPhone.empty()) return;
  sender.Send(CAlert{settings.strEmail, settings.strPhone, message, message});
}

void FillAdminBaseline(CAdminBaseline& baseline, ILocalUsers& users) {
  std::vector<_userstruct> members;
  if (!GetGroupUsers(users, kAdministratorsGroup, &members)) return;
  baseline.members = std::move(members);
  baseline.bKnown = true;
}

void CheckNewAdmin(bool& checking, CAdminBaseline& baseline, const CSettings& settings,
                   const std::vector<std::string>& localIps, ILocalUsers& users, IAlertSender& sender) {
  if (checking) return;
  checking = true;
  struct CClear {
    bool& flag;
    ~CClear() { flag = false; }
  } clear{checking};
  if (!settings.userchk) return;
  std::vector<_userstruct> current;
  if (!GetGroupUsers(users, kAdministratorsGroup, &current)) return;
  if (!baseline.bKnown) {
    baseline.members = std::move(current);
    baseline.bKnown = true;
    return;
  }
  const _userstruct* added = nullptr;
  for (const _userstruct& member : current) {
    bool known = false;
    for (const _userstruct& old : baseline.members) known = known || SameAccount(old, member);
    if (!known) {
      added = &member;
      break;
    }
  }
  // Without an own address there is no text: the baseline stays, so the next run reports it.
  if (added && localIps.empty()) return;
  const std::string message = added ? localIps.front() + kNewAdminText + added->strName + kNewAdminCheck : "";
  // The latest listing on every run: an account removed and added again is new again.
  baseline.members = std::move(current);
  if (added) DispatchAlertText(settings, message, sender);
}

void CheckClockAlert(const CSettings& settings, const std::string& clockSkew,
                     const std::vector<std::string>& localIps, IAlertSender& sender) {
  if (!settings.timerchk || clockSkew.empty() || localIps.empty()) return;
  DispatchAlertText(settings, localIps.front() + kClockAlertText, sender);
}

void CheckUploadAlert(const CSettings& settings, const std::vector<CResultRowView>& rows, int32_t& cursor,
                      IAlertSender& sender) {
  if (!settings.wormchk) return;
  if (cursor < 0) cursor = 0;
  std::string message = kUploadAlertHead;
  int count = 0;
  for (; static_cast<size_t>(cursor) < rows.size(); ++cursor) {
    const CResultRowView& row = rows[static_cast<size_t>(cursor)];
    if (TrimAnswer(row.strType) != kSuspicious) continue;
    message += row.strFile + "|";
    ++count;
  }
  message += kUploadAlertTail;
  if (count == 0) return;
  if (settings.strEmail.empty() && settings.strPhone.empty()) return;
  sender.Send(CAlert{settings.strEmail, settings.strPhone, message, UploadSmsText(message)});
}

std::string UploadSmsText(const std::string& message) {
  return message.size() >= kUploadSmsLimit ? std::string(kUploadSmsReplacement) : message;
}
