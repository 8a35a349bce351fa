#pragma once
// The one message pump of the user-interface thread. Every loop or wait that processes window
// messages (the dialogs' modal loop, the paced steps of a protection start, the stop's wait)
// goes through it, so the dialogs' key rule and keyboard navigation hold everywhere.
#include <windows.h>

#include <functional>

// Translates and dispatches one message; the dialog that owns its window sees it first
// (key rule, then dialog navigation).
void RouteMessage(MSG& msg);

// Processes every pending message. False when WM_QUIT came; it is posted again so the
// outermost loop sees it too.
bool PumpPendingMessages();

// Processes messages as they arrive for this many milliseconds (the window keeps answering
// throughout), then returns; sooner when WM_QUIT comes.
void PumpMessagesAndWait(int milliseconds);

// Processes messages until done() is true (checked after each message) or WM_QUIT comes.
void RunMessageLoop(const std::function<bool()>& done);
