#pragma once
// The program's single-instance name as a copy under another account holds it.
#include <windows.h>

// Creates the named mutex owned by SYSTEM with an empty access list, so that this account can
// neither open nor create it (ERROR_ACCESS_DENIED), as with a copy another administrator runs
// under a default access list. Wine checks a mutex's list but lets its owner wait on it, hence
// the owner SYSTEM. nullptr when it could not be made; the caller closes the handle.
HANDLE HoldNameAsAnotherAccount(const char* name);
