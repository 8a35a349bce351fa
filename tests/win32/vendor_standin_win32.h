#pragma once
// The stand-in vendor service that the ctest fixture runs on 127.0.0.1 for the Win32 tests.
#include <string>

// The fixture runs two: this one for every test, and one whose version file and builds the
// update tests change ("vendor-service-upgrade"). Each keeps its files in build/<arch>/<folder>.
constexpr const char kStandInFolder[] = "vendor-service";
constexpr const char kUpgradeStandInFolder[] = "vendor-service-upgrade";

// "http://127.0.0.1:PORT", or "" when the fixture did not start it.
std::string StandInBase(const char* folder = kStandInFolder);
// "127.0.0.1:PORT", the form the program takes from TAVRICK_SERVICE_HOST.
std::string StandInHost(const char* folder = kStandInFolder);
// The service's data folder as this program reaches it.
std::string StandInData(const char* folder = kStandInFolder);

// An answer of the stand-in's operator pages: HTTP status (0 when nothing answered) and body.
struct StandInAnswer {
  unsigned long status = 0;
  std::string body;
};
// GET (empty form) or POST (form: "name=value&...", URL-encoded) on a page behind the
// administrator's sign-in (path from "/tavrick/", query included), with the password the service wrote to admin.password at start
// sent as "Authorization: Bearer", the way scripts reach those pages.
StandInAnswer StandInAdmin(const std::string& path, const std::string& form = std::string(),
                           const char* folder = kStandInFolder);
