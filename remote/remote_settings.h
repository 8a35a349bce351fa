#pragma once
// The remote settings window's save ("远程操作", CREMOTE): the checks in their order, the
// messages, and the stored form of the remote password (its MD5 digest in section "remote",
// key "remotepassw").
#include <string>

#include "config/settings.h"

class IProfileStore;

namespace remotemsg {
extern const char kNotEnabled[];    // "必须选择开启远程操作,否则远程不起作用!"
extern const char kTooShort[];      // "密码长度必须由6位数字或英文字符组成!"
extern const char kMismatch[];      // "两次密码不一致!"
extern const char kHasComma[];      // "密码不能含有逗号(,)!"
extern const char kTooLong[];       // "密码长度不能超过64个字符!"
extern const char kSaved[];         // "保存成功!"
}  // namespace remotemsg

constexpr size_t kMinRemotePasswordBytes = 6;
// The service hands the password over in a comma-separated answer and refuses passwords of more
// than 64 characters on its page: a password with a comma, or a longer one, could never match.
constexpr size_t kMaxRemotePasswordChars = 64;

// Which field the window focuses after the message.
enum class RemoteField { kNone, kEnable, kPassword };

struct CRemoteSaveResult {
  const char* szMessage;
  RemoteField focus;
};

// In this order: the enable box must be ticked; the password, trimmed, must have at least six
// bytes (any bytes: three Chinese characters pass), no comma and at most 64 characters (a GBK
// double-byte character counts once); both entries must be equal as typed. Then
// the digest is written and kept in settings.remotepassw. The digest is taken of the trimmed
// password, which is what the remote check compares (it trims what the vendor's page sends):
// a password saved with blanks around it still works remotely.
CRemoteSaveResult SaveRemotePassword(bool enabled, const std::string& password, const std::string& repeated,
                                     CSettings& settings, IProfileStore& store);
