// Cost of reading logon logs: IIS FTP W3C lines through the line assembler and the column
// reader, against the plain way (std::getline on a std::istringstream, columns split with
// operator>>) and a std::regex reader on the same bytes; and Security 4625 event XML through the
// event reader against std::regex. Prints lines per second and our ratio over each alternative.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "logonguard/event_xml.h"
#include "logonguard/w3c_log.h"

namespace {

constexpr int kLines = 100000;

// A day of an attacked FTP site: sessions of USER, PASS (mostly 530), a few successes and
// transfers, a header every 20,000 lines as after a service restart.
const std::string& FtpLog() {
  static const std::string log = [] {
    const char* header =
        "#Software: Microsoft Internet Information Services 10.0\r\n#Version: 1.0\r\n#Date: 2026-12-08 00:00:00\r\n"
        "#Fields: date time c-ip c-port cs-username s-ip s-port cs-method cs-uri-stem sc-status sc-win32-status "
        "sc-substatus x-session x-fullpath\r\n";
    std::string text;
    char line[512];
    for (int i = 0; i < kLines; ++i) {
      if (i % 20000 == 0) text += header;
      const int host = i % 250 + 1;
      const char* method = i % 3 == 0 ? "USER" : (i % 17 == 0 ? "RETR" : "PASS");
      const char* status = i % 3 == 0 ? "331" : (i % 29 == 0 ? "230" : "530");
      std::snprintf(line, sizeof line,
                    "2026-12-08 %02d:%02d:%02d 203.0.113.%d %d admin%d 192.0.2.10 21 %s - %s 1326 41 "
                    "5a8e0c2d-%04x-4b1e-9c1f-7e2a0c%06d -\r\n",
                    i / 3600 % 24, i / 60 % 60, i % 60, host, 40000 + i % 20000, i % 7, method, status, i % 65536, i);
      text += line;
    }
    return text;
  }();
  return log;
}

void BM_W3cReader(benchmark::State& state) {
  const std::string& log = FtpLog();
  int64_t failures = 0;
  for (auto _ : state) {
    CW3cReader reader;
    CLineAssembler lines;
    // Pieces as a file follower reads them.
    for (size_t at = 0; at < log.size(); at += 65536) {
      const size_t n = std::min<size_t>(65536, log.size() - at);
      lines.Feed(log.data() + at, n, [&](const char* line, size_t length) {
        failures += reader.ReadLine(line, length).eOutcome == ELogonOutcome::kFailure;
      });
    }
  }
  benchmark::DoNotOptimize(failures);
  state.SetItemsProcessed(state.iterations() * kLines);
}

void BM_IstringstreamReader(benchmark::State& state) {
  const std::string& log = FtpLog();
  int64_t failures = 0;
  for (auto _ : state) {
    std::istringstream in(log);
    std::string line;
    std::map<std::string, size_t> columns;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::istringstream fields(line);
      std::vector<std::string> parts;
      std::string part;
      while (fields >> part) parts.push_back(part);
      if (!parts.empty() && parts[0] == "#Fields:") {
        columns.clear();
        for (size_t i = 1; i < parts.size(); ++i) columns[parts[i]] = i - 1;
        continue;
      }
      if (parts.empty() || parts[0][0] == '#') continue;
      auto method = columns.find("cs-method"), status = columns.find("sc-status"), ip = columns.find("c-ip");
      if (method == columns.end() || status == columns.end() || ip == columns.end()) continue;
      if (parts.size() != columns.size()) continue;
      failures += parts[method->second] == "PASS" && parts[status->second] == "530" && !parts[ip->second].empty();
    }
  }
  benchmark::DoNotOptimize(failures);
  state.SetItemsProcessed(state.iterations() * kLines);
}

void BM_RegexReader(benchmark::State& state) {
  const std::string& log = FtpLog();
  // The fixed layout above; a regex reader cannot follow reordered columns without rebuilding.
  const std::regex failure(R"(^\S+ \S+ (\S+) \S+ (\S+) \S+ \S+ PASS \S+ 530 )");
  int64_t failures = 0;
  for (auto _ : state) {
    std::istringstream in(log);
    std::string line;
    std::smatch match;
    while (std::getline(in, line)) failures += std::regex_search(line, match, failure);
  }
  benchmark::DoNotOptimize(failures);
  state.SetItemsProcessed(state.iterations() * kLines);
}

const std::string& SecurityEvent() {
  static const std::string xml =
      "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider "
      "Name='Microsoft-Windows-Security-Auditing' Guid='{54849625-5478-4994-a5ba-3e3b0328c30d}'/><EventID>4625</EventID>"
      "<Version>0</Version><Level>0</Level><Task>12544</Task><Opcode>0</Opcode><Keywords>0x8010000000000000</Keywords>"
      "<TimeCreated SystemTime='2026-12-08T01:02:03.4567890Z'/><EventRecordID>912345</EventRecordID><Correlation/>"
      "<Execution ProcessID='640' ThreadID='1288'/><Channel>Security</Channel><Computer>WIN-SRV</Computer><Security/>"
      "</System><EventData><Data Name='SubjectUserSid'>S-1-0-0</Data><Data Name='SubjectUserName'>-</Data>"
      "<Data Name='SubjectDomainName'>-</Data><Data Name='SubjectLogonId'>0x0</Data><Data "
      "Name='TargetUserSid'>S-1-0-0</Data><Data Name='TargetUserName'>administrator</Data><Data "
      "Name='TargetDomainName'></Data><Data Name='Status'>0xc000006d</Data><Data Name='FailureReason'>%%2313</Data>"
      "<Data Name='SubStatus'>0xc000006a</Data><Data Name='LogonType'>10</Data><Data Name='LogonProcessName'>User32 "
      "</Data><Data Name='AuthenticationPackageName'>Negotiate</Data><Data Name='WorkstationName'>WIN-SRV</Data>"
      "<Data Name='TransmittedServices'>-</Data><Data Name='LmPackageName'>-</Data><Data Name='KeyLength'>0</Data>"
      "<Data Name='ProcessId'>0x1c4</Data><Data Name='ProcessName'>C:\\Windows\\System32\\svchost.exe</Data>"
      "<Data Name='IpAddress'>203.0.113.50</Data><Data Name='IpPort'>51234</Data></EventData></Event>";
  return xml;
}

void BM_EventXmlReader(benchmark::State& state) {
  const std::string& xml = SecurityEvent();
  int64_t failures = 0;
  for (auto _ : state) failures += ReadEventXml(xml).eOutcome == ELogonOutcome::kFailure;
  benchmark::DoNotOptimize(failures);
  state.SetItemsProcessed(state.iterations());
}

void BM_EventXmlRegex(benchmark::State& state) {
  const std::string& xml = SecurityEvent();
  const std::regex id("<EventID[^>]*>(\\d+)</EventID>"), ip("<Data Name='IpAddress'>([^<]*)</Data>"),
      user("<Data Name='TargetUserName'>([^<]*)</Data>"), type("<Data Name='LogonType'>([^<]*)</Data>");
  int64_t failures = 0;
  std::smatch m;
  for (auto _ : state) {
    bool failure = std::regex_search(xml, m, id) && m[1] == "4625";
    failure = failure && std::regex_search(xml, m, ip) && std::regex_search(xml, m, user) &&
              std::regex_search(xml, m, type);
    failures += failure;
  }
  benchmark::DoNotOptimize(failures);
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_W3cReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IstringstreamReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegexReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EventXmlReader)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EventXmlRegex)->Unit(benchmark::kMicrosecond);

// Keeps each run's rate so the ratios can be printed after the table.
class CRateReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto it = run.counters.find("items_per_second");
      if (it != run.counters.end()) rates[run.benchmark_name()] = it->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  CRateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& r = reporter.rates;
  std::printf("\n%-26s %14s %10s\n", "reader", "lines/s", "ours/it");
  const auto row = [&](const char* name, const char* ours) {
    if (!r.count(name) || !r.count(ours)) return;
    std::printf("%-26s %14.0f %10.2f\n", name, r[name], r[ours] / r[name]);
  };
  row("BM_W3cReader", "BM_W3cReader");
  row("BM_IstringstreamReader", "BM_W3cReader");
  row("BM_RegexReader", "BM_W3cReader");
  row("BM_EventXmlReader", "BM_EventXmlReader");
  row("BM_EventXmlRegex", "BM_EventXmlReader");
  if (r.count("BM_W3cReader"))
    std::printf("W3C lines per second: %.0f (goal 100,000: %s)\n", r["BM_W3cReader"],
                r["BM_W3cReader"] >= 100000 ? "met" : "NOT met");
  benchmark::Shutdown();
  return 0;
}
