#pragma once
// The vendor service's version file, "latest,field,field,...": field 0 is the newest version,
// compared as a number; the further fields are the updater's and go to it unchanged. It counts
// only with the vendor's signature beside it ("version.txt.sig", see upgrader/build_signature.h).
#include <cstdint>
#include <string>
#include <vector>

#include "alerts/service_ports.h"

constexpr const char kNewVersionPrefix[] = "当前版本:";
constexpr const char kNewVersionSuffix[] = "请下载最新版本";

// The C library's atof of the leading plain decimal number (blanks, sign, digits, one point):
// "2.4" is above "2.36"; text that is no such number, or one too large for a double, reads as 0
// (exponents, hexadecimal and "inf" are not read).
double VersionNumber(const std::string& text);

// Cut at every ","; empty pieces are kept except the last one. The answer is not trimmed.
std::vector<std::string> VersionFields(const std::string& answer);

// Field 0, or "0" when there is none.
std::string LatestVersion(const std::vector<std::string>& fields);

// The new-build folder for the system's width, ",", and fields 1 to the last joined with ","
// (a lone version field leaves a single "," at the end).
std::string UpdaterArguments(const std::string& baseUrl, int systemBits, const std::vector<std::string>& fields);

// The version file at baseUrl + kVersionFile + query ("" or "?rad=..."), then its signature at
// the same address with ".sig" before the query: the body when the signature is the vendor's, ""
// when either is missing or it does not verify (a spoofed service names no version). `refused`,
// when given, tells a body that came without a good signature from no answer at all.
std::string FetchSignedVersionFile(IHttpPort& http, const std::string& baseUrl, const std::string& query,
                                   bool* refused = nullptr);

// The body as read line by line, each line after one blank: "2.40\r\n" gives " 2.40".
std::string JoinedLines(const std::string& body);

// The daily check: asks for the signed version file with "?rad=<now>"; when it names a version newer
// than ownVersion, latestVersion takes it and the status bar text is returned; "" otherwise.
std::string DailyVersionCheck(IHttpPort& http, const std::string& baseUrl, const std::string& ownVersion,
                              int64_t now, std::string& latestVersion);
