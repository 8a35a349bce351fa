#include "common/local_users.h"

const char kAdministratorsGroup[] = "Administrators";

namespace {

constexpr size_t kNameBytes = 99;
constexpr size_t kGroupsBytes = 999;

// At most `limit` bytes, never ending inside a double-byte (code page 936) character.
std::string Cut(const std::string& text, size_t limit) {
  size_t end = 0;
  while (end < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[end]);
    const size_t step = (c >= 0x81 && c <= 0xFE && end + 1 < text.size()) ? 2 : 1;
    if (end + step > limit) break;
    end += step;
  }
  return text.substr(0, end);
}

}  // namespace

bool GetGroupUsers(ILocalUsers& users, const std::string& group, std::vector<_userstruct>* list) {
  std::vector<ILocalUsers::CAccount> accounts;
  if (!users.ListAccounts(&accounts)) return false;
  for (const ILocalUsers::CAccount& account : accounts) {
    bool member = group.empty();
    std::string groups;
    for (const std::string& name : account.groups) {
      groups += " " + name;
      if (name == group) member = true;
    }
    if (member) {
      list->push_back(
          _userstruct{Cut(account.strName, kNameBytes), Cut(groups, kGroupsBytes), account.wstrName, account.strSid});
    }
  }
  return true;
}

bool SameAccount(const _userstruct& a, const _userstruct& b) {
  if (!a.strSid.empty() && !b.strSid.empty()) return a.strSid == b.strSid;
  if (!a.wstrName.empty() && !b.wstrName.empty()) return a.wstrName == b.wstrName;
  return a.strName == b.strName;
}
