#pragma once
// The stand-in vendor service that the ctest fixture runs on 127.0.0.1 for the Win32 tests.
#include <string>

// "http://127.0.0.1:PORT", or "" when the fixture did not start it.
std::string StandInBase();
// "127.0.0.1:PORT", the form the program takes from TAVRICK_SERVICE_HOST.
std::string StandInHost();
