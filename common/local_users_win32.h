#pragma once
#include "common/local_users.h"

// The local accounts through the NetAPI user functions (UTF-16, converted to the ANSI code
// page): NetUserEnum for normal accounts, NetUserGetLocalGroups with indirect membership.
class CWin32LocalUsers : public ILocalUsers {
 public:
  bool ListAccounts(std::vector<CAccount>* accounts) override;
};
