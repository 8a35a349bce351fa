#pragma once
// The hand-over of protection from the boot service's copy (services' session) to a copy an
// administrator starts, through three events of the machine's namespace that only
// administrators and the system may open:
//   request   the administrator's copy asks (auto-reset; the service's copy waits on it)
//   released  the service's copy has written its lists and carried-over state and, on the
//             driver, closed it (auto-reset: exactly one asking copy goes on)
//   taken     the new copy protects (manual-reset): on the user-mode filter the service's copy
//             keeps its own filters until then, so the machine is never without them
// They exist only while a service's copy runs: an administrator's copy is never asked.
#include <windows.h>

// The service's copy: makes the events and waits for a request on a thread of its own, which
// posts `message` to the window given by SetHandOverWindow (once there is one).
void OfferHandOver();
void SetHandOverWindow(HWND window, UINT message);
// The service's copy, on the window's thread once the request came and the state is written.
void SignalHandOverReleased();
bool WaitHandOverTaken(DWORD milliseconds);

// The administrator's copy: true when a service's copy was there and was asked.
bool AskForHandOver();
bool WaitHandOverReleased(DWORD milliseconds);
// Its protection runs (after any start): the service's copy may let its filters go.
void SignalHandOverTaken();
