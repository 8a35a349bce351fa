#include "foreign_instance_win32.h"

#include <sddl.h>

HANDLE HoldNameAsAnotherAccount(const char* name) {
  PSECURITY_DESCRIPTOR closed = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("O:SYG:SYD:P", SDDL_REVISION_1, &closed, nullptr))
    return nullptr;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, closed, FALSE};
  HANDLE held = CreateMutexA(&attributes, FALSE, name);
  const bool created = held && GetLastError() != ERROR_ALREADY_EXISTS;
  LocalFree(closed);
  if (held && !created) {
    CloseHandle(held);  // someone else's name: not ours to stand in for
    return nullptr;
  }
  return held;
}
