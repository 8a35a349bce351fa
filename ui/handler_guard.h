#pragma once
// The catch-all of the window framework: no exception leaves a window handler (it would
// cross the system's dispatch code and end the process). Each handler runs through
// RunGuarded; a handler that throws simply counts as not having handled its message.
#include <utility>

// Runs body; false when it threw (the exception is swallowed here).
template <typename Body>
bool RunGuarded(Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
    return true;
  } catch (...) {
    return false;
  }
}
