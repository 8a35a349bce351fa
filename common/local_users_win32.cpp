#include "common/local_users_win32.h"

#include <windows.h>
#include <lm.h>
#include <sddl.h>

namespace {

std::string Ansi(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string converted(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, &converted[0], length, nullptr, nullptr);
  converted.resize(static_cast<size_t>(length) - 1);
  return converted;
}

// The account's identifier as text; empty when the system does not say.
std::string AccountSid(const wchar_t* name) {
  BYTE sid[SECURITY_MAX_SID_SIZE] = {};
  DWORD sidSize = sizeof sid;
  wchar_t domain[256] = {};
  DWORD domainSize = 256;
  SID_NAME_USE use;
  if (!LookupAccountNameW(nullptr, name, sid, &sidSize, domain, &domainSize, &use)) return std::string();
  LPSTR text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return std::string();
  std::string result = text;
  LocalFree(text);
  return result;
}

bool LocalGroups(const wchar_t* user, std::vector<std::string>* groups) {
  LPBYTE buffer = nullptr;
  DWORD read = 0, total = 0;
  const NET_API_STATUS status =
      NetUserGetLocalGroups(nullptr, user, 0, LG_INCLUDE_INDIRECT, &buffer, MAX_PREFERRED_LENGTH, &read, &total);
  if (status != NERR_Success) {
    if (buffer) NetApiBufferFree(buffer);
    return false;
  }
  const auto* entries = reinterpret_cast<const LOCALGROUP_USERS_INFO_0*>(buffer);
  for (DWORD i = 0; i < read; ++i) groups->push_back(Ansi(entries[i].lgrui0_name));
  if (buffer) NetApiBufferFree(buffer);
  return true;
}

}  // namespace

bool CWin32LocalUsers::ListAccounts(std::vector<CAccount>* accounts) {
  DWORD resume = 0;
  NET_API_STATUS status;
  do {
    LPBYTE buffer = nullptr;
    DWORD read = 0, total = 0;
    status = NetUserEnum(nullptr, 0, FILTER_NORMAL_ACCOUNT, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume);
    if (status != NERR_Success && status != ERROR_MORE_DATA) {
      if (buffer) NetApiBufferFree(buffer);
      return false;
    }
    const auto* users = reinterpret_cast<const USER_INFO_0*>(buffer);
    for (DWORD i = 0; i < read; ++i) {
      CAccount account;
      account.strName = Ansi(users[i].usri0_name);
      account.wstrName = reinterpret_cast<const char16_t*>(users[i].usri0_name);
      account.strSid = AccountSid(users[i].usri0_name);
      if (LocalGroups(users[i].usri0_name, &account.groups)) accounts->push_back(std::move(account));
    }
    if (buffer) NetApiBufferFree(buffer);
  } while (status == ERROR_MORE_DATA);
  return true;
}
