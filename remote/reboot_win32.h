#pragma once
// Restarts the server: takes the shutdown privilege and asks the system to reboot.
void RebootThisServer();
