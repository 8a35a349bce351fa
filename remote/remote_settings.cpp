#include "remote/remote_settings.h"

#include "alerts/service_answers.h"
#include "config/ini_access.h"
#include "remote/md5.h"

namespace remotemsg {
const char kNotEnabled[] = "必须选择开启远程操作,否则远程不起作用!";
const char kTooShort[] = "密码长度必须由6位数字或英文字符组成!";
const char kMismatch[] = "两次密码不一致!";
const char kHasComma[] = "密码不能含有逗号(,)!";
const char kTooLong[] = "密码长度不能超过64个字符!";
const char kSaved[] = "保存成功!";
}  // namespace remotemsg

namespace {

// Characters of GBK text: a lead byte 0x81-0xFE and the byte after it are one.
size_t GbkCharacters(const std::string& text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i, ++count) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < text.size()) ++i;
  }
  return count;
}

}  // namespace

CRemoteSaveResult SaveRemotePassword(bool enabled, const std::string& password, const std::string& repeated,
                                     CSettings& settings, IProfileStore& store) {
  if (!enabled) return {remotemsg::kNotEnabled, RemoteField::kEnable};
  const std::string trimmed = TrimAnswer(password);
  if (trimmed.size() < kMinRemotePasswordBytes) return {remotemsg::kTooShort, RemoteField::kPassword};
  if (trimmed.find(',') != std::string::npos) return {remotemsg::kHasComma, RemoteField::kPassword};
  if (GbkCharacters(trimmed) > kMaxRemotePasswordChars) return {remotemsg::kTooLong, RemoteField::kPassword};
  if (password != repeated) return {remotemsg::kMismatch, RemoteField::kNone};
  const std::string digest = MD5Text(trimmed);
  WriteIni(store, kConfigFile, ini::kRemote, "remotepassw", digest);
  settings.remotepassw = digest;  // a failed write is not detected; memory takes it in any case
  return {remotemsg::kSaved, RemoteField::kNone};
}
