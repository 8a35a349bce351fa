#include "update/version_check.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "alerts/service_answers.h"
#include "alerts/service_host.h"
#include "upgrader/build_signature.h"

double VersionNumber(const std::string& text) {
  // Only the plain decimal form is read: the C libraries disagree on exponents, hexadecimal
  // and "inf", and a garbage answer must not become a version above every other.
  size_t end = 0;
  while (end < text.size() && std::isspace(static_cast<unsigned char>(text[end]))) ++end;
  if (end < text.size() && (text[end] == '+' || text[end] == '-')) ++end;
  const size_t digits = end;
  while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
  if (end < text.size() && text[end] == '.') ++end;
  while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
  if (text.find_first_of("0123456789", digits) >= end) return 0;
  const double value = std::strtod(text.substr(0, end).c_str(), nullptr);
  return std::isfinite(value) ? value : 0;
}

std::vector<std::string> VersionFields(const std::string& answer) {
  std::vector<std::string> fields;
  SplitAnswer(answer, fields);
  return fields;
}

std::string LatestVersion(const std::vector<std::string>& fields) { return fields.empty() ? "0" : fields[0]; }

std::string UpdaterArguments(const std::string& baseUrl, int systemBits, const std::vector<std::string>& fields) {
  std::string arguments = baseUrl + (systemBits == 64 ? service_path::kNewSoft64 : service_path::kNewSoft32) + ",";
  for (size_t i = 1; i < fields.size(); ++i) arguments += (i > 1 ? "," : "") + fields[i];
  return arguments;
}

std::string FetchSignedVersionFile(IHttpPort& http, const std::string& baseUrl, const std::string& query,
                                   bool* refused) {
  if (refused) *refused = false;
  const std::string address = baseUrl + service_path::kVersionFile;
  const std::string body = http.FetchUrl(address + query);
  if (body.empty()) return "";
  const std::string signature = http.FetchUrl(address + kSignatureSuffix + query);
  if (SignedByVendor(VersionFileSignedText(body), signature)) return body;
  if (refused) *refused = true;
  return "";
}

std::string JoinedLines(const std::string& body) {
  std::string text;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find('\n', start);
    if (end == std::string::npos) end = body.size();
    std::string line = body.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    text += " " + line;
    start = end + 1;
  }
  return text;
}

std::string DailyVersionCheck(IHttpPort& http, const std::string& baseUrl, const std::string& ownVersion,
                              int64_t now, std::string& latestVersion) {
  const std::string rad = std::to_string(static_cast<int32_t>(now));
  const std::string answer = JoinedLines(FetchSignedVersionFile(http, baseUrl, "?rad=" + rad));
  if (answer.empty()) return "";
  const std::string latest = LatestVersion(VersionFields(answer));
  if (!(VersionNumber(ownVersion) < VersionNumber(latest))) return "";
  latestVersion = latest;
  return kNewVersionPrefix + latest + kNewVersionSuffix;
}
