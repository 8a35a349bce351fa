#include "ui/keyboard_rule.h"

namespace {
constexpr unsigned kKeyFirst = 0x0100;  // WM_KEYFIRST
constexpr unsigned kKeyDown = 0x0100;   // WM_KEYDOWN
constexpr unsigned kKeyLast = 0x0109;   // WM_KEYLAST
constexpr uintptr_t kEscape = 27;
constexpr uintptr_t kEnter = 13;
}  // namespace

bool SwallowDialogKey(unsigned message, uintptr_t keyCode) {
  if (message == kKeyDown && keyCode == kEscape) return true;
  // Only keyboard messages: a timer or command whose id happens to be 13 is not a key.
  return message >= kKeyFirst && message <= kKeyLast && keyCode == kEnter;
}
