#include "app/handover_win32.h"

#include <sddl.h>

#include <atomic>

namespace {

const char kRequestName[] = "Global\\tavrick_handover";
const char kReleasedName[] = "Global\\tavrick_handover_released";
const char kTakenName[] = "Global\\tavrick_handover_taken";
// Administrators and the system only: nobody else may end the protecting copy this way.
const char kHandOverSddl[] = "D:P(A;;GA;;;BA)(A;;GA;;;SY)";

HANDLE g_hRequest = nullptr;
HANDLE g_hReleased = nullptr;
HANDLE g_hTaken = nullptr;
std::atomic<HWND> g_window{nullptr};
std::atomic<UINT> g_message{0};

HANDLE MakeEvent(const char* name, BOOL manualReset) {
  PSECURITY_DESCRIPTOR access = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorA(kHandOverSddl, SDDL_REVISION_1, &access, nullptr);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, access, FALSE};
  const HANDLE event = CreateEventA(access ? &attributes : nullptr, manualReset, FALSE, name);
  if (access) LocalFree(access);
  return event;
}

// Every request is passed on: one the window refused (an exit was confirmed, another end runs)
// leaves the next to be asked again.
DWORD WINAPI WaitForRequest(LPVOID) {
  while (WaitForSingleObject(g_hRequest, INFINITE) == WAIT_OBJECT_0) {
    // The request may come while the window is still being made.
    while (g_window.load() == nullptr) Sleep(100);
    PostMessageA(g_window.load(), g_message.load(), 0, 0);
  }
  return 0;
}

}  // namespace

void OfferHandOver() {
  g_hRequest = MakeEvent(kRequestName, FALSE);
  g_hReleased = MakeEvent(kReleasedName, FALSE);
  g_hTaken = MakeEvent(kTakenName, TRUE);
  if (!g_hRequest || !g_hReleased || !g_hTaken) return;  // no hand-over: a start is refused as before
  if (HANDLE thread = CreateThread(nullptr, 0, WaitForRequest, nullptr, 0, nullptr)) CloseHandle(thread);
}

void SetHandOverWindow(HWND window, UINT message) {
  g_message.store(message);
  g_window.store(window);
}

void SignalHandOverReleased() {
  if (g_hReleased) SetEvent(g_hReleased);
}

bool WaitHandOverTaken(DWORD milliseconds) {
  return g_hTaken && WaitForSingleObject(g_hTaken, milliseconds) == WAIT_OBJECT_0;
}

bool AskForHandOver() {
  const HANDLE request = OpenEventA(EVENT_MODIFY_STATE, FALSE, kRequestName);
  if (!request) return false;
  g_hReleased = OpenEventA(SYNCHRONIZE, FALSE, kReleasedName);
  g_hTaken = OpenEventA(EVENT_MODIFY_STATE, FALSE, kTakenName);
  const bool asked = g_hReleased && SetEvent(request);
  CloseHandle(request);
  return asked;
}

bool WaitHandOverReleased(DWORD milliseconds) {
  return g_hReleased && WaitForSingleObject(g_hReleased, milliseconds) == WAIT_OBJECT_0;
}

void SignalHandOverTaken() {
  if (g_hTaken) SetEvent(g_hTaken);
}
