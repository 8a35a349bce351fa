#pragma once
// One HTTP GET through WinINet (the system's proxy settings apply) that ends by its deadline
// whatever the server does: a silent server, headers trickled a byte at a time and an endless
// body are all cut off there. WinINet runs asynchronously and the caller's thread waits for each
// step, so at the deadline that thread closes the handles itself: no other thread uses a handle
// after its close (freed handle values are given to the next request), and no thread is left
// behind.
#include <string>

#include "common/cutoff_http.h"

CCutOffAnswer CutOffGet(const std::string& url, const CCutOffRequest& request);
