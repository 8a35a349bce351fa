#pragma once
// The server's local user accounts and their groups, for the new-administrator alert and the
// remote reboot: a port over the system's account functions, and the group member list.
#include <string>
#include <vector>

// One local account of a group member list.
struct _userstruct {
  std::string strName;    // account name, at most 99 bytes
  std::string strGroups;  // its local groups, each after one blank, at most 999 bytes
  std::u16string wstrName{};  // the name as the system spells it (no code page loses a character)
  std::string strSid{};       // the account's security identifier, "S-1-5-..."; empty when unknown
};

// The same account: by identifier where both have one, else by the system's name, else by name.
bool SameAccount(const _userstruct& a, const _userstruct& b);

// The accounts as the system lists them.
class ILocalUsers {
 public:
  struct CAccount {
    std::string strName;
    std::vector<std::string> groups;  // local groups, indirect membership included
    std::u16string wstrName{};
    std::string strSid{};
  };
  virtual ~ILocalUsers() = default;
  // Every normal local account in the system's order. An account whose groups cannot be read
  // is left out; false when the accounts themselves cannot be listed.
  virtual bool ListAccounts(std::vector<CAccount>* accounts) = 0;
};

extern const char kAdministratorsGroup[];  // "Administrators"

// Appends, in the system's order, every normal local account that belongs to the group (exact,
// case-sensitive name); an empty group name takes every account. False when the accounts
// could not be listed (nothing is appended then).
bool GetGroupUsers(ILocalUsers& users, const std::string& group, std::vector<_userstruct>* list);
