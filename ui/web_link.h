#pragma once
// Which links the program hands to the shell: only web addresses. A link from outside (the
// vendor service's related-software list, for one) could otherwise name a local program or
// a file on a share, which the shell's "open" would run with the administrator's rights.
#include <string>

// "http://" or "https://" (any case) followed by at least one byte, and no blank or control
// byte anywhere.
bool IsWebLink(const std::string& url);
