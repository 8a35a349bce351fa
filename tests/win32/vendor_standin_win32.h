#pragma once
// The stand-in vendor service that the ctest fixture runs on 127.0.0.1 for the Win32 tests.
#include <string>

// "http://127.0.0.1:PORT", or "" when the fixture did not start it.
std::string StandInBase();
// "127.0.0.1:PORT", the form the program takes from TAVRICK_SERVICE_HOST.
std::string StandInHost();

// An answer of the stand-in's operator pages: HTTP status (0 when nothing answered) and body.
struct StandInAnswer {
  unsigned long status = 0;
  std::string body;
};
// GET (empty form) or POST (form: "name=value&...", URL-encoded) on a page behind the
// administrator's sign-in (path from "/tavrick/", query included), with the password the service wrote to admin.password at start
// sent as "Authorization: Bearer", the way scripts reach those pages.
StandInAnswer StandInAdmin(const std::string& path, const std::string& form = std::string());
