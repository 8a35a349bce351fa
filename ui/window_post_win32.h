#pragma once
// How worker threads reach windows: only by posting to a handle that is checked first. A
// window that is gone (or goes before the message is read) makes the post harmless: nothing
// is delivered and any payload is freed. Workers never send (SendMessage would make them wait
// for the user-interface thread, or deadlock with a lock it waits for) and never call window
// functions on another thread's windows.
#include <windows.h>

#include <memory>

// Posts when `window` is a live window; false (nothing posted) otherwise.
inline bool PostToWindow(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  return window && IsWindow(window) && PostMessageA(window, message, wParam, lParam);
}

// Hands an object to the window with the message (in lParam); the window takes it with
// TakePayload. Freed here when the post fails.
template <typename T>
bool PostPayload(HWND window, UINT message, std::unique_ptr<T> payload) {
  if (!PostToWindow(window, message, 0, reinterpret_cast<LPARAM>(payload.get()))) return false;
  payload.release();  // now owned by the queued message
  return true;
}

template <typename T>
std::unique_ptr<T> TakePayload(LPARAM lParam) {
  return std::unique_ptr<T>(reinterpret_cast<T*>(lParam));
}

// For the window's destruction: frees the payloads of its messages still queued.
template <typename T>
void DropQueuedPayloads(HWND window, UINT message) {
  MSG msg;
  while (PeekMessageA(&msg, window, message, message, PM_REMOVE)) TakePayload<T>(msg.lParam);
}
