// How soon the FTP source follows a large day's log after its start, through the real file port
// (run under wine64 by run_follow_bench.sh): the time to its first look's report, the bytes that
// look read, and the time until a failure appended after that look reaches the guard's queue.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "logonguard/ftp_log_source_win32.h"
#include "logonguard/guard_inbox.h"
#include "logonguard/log_files_win32.h"
#include "logonguard/log_follower.h"

namespace {

const char kHeader[] =
    "#Software: Microsoft Internet Information Services 10.0\r\n#Version: 1.0\r\n#Date: 2026-12-09 00:00:00\r\n"
    "#Fields: date time c-ip c-port cs-username s-ip s-port cs-method cs-uri-stem sc-status sc-win32-status "
    "sc-substatus x-session x-fullpath\r\n";

std::string Line(const std::string& ip) {
  return "2026-12-09 01:02:03 " + ip + " 50123 admin 192.0.2.10 21 PASS - 530 1326 41 5a8e0c2d-1 -\r\n";
}

double Ms(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Tick() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now;
}

bool Append(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD done = 0;
  const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) != FALSE;
  CloseHandle(h);
  return ok;
}

// The real port, counting what is read through it.
class CCountingPort : public CWin32LogFilePort {
 public:
  bool ReadAt(const std::string& folder, const std::string& name, uint64_t offset, size_t maxBytes,
              std::string& out) override {
    const bool ok = CWin32LogFilePort::ReadAt(folder, name, offset, maxBytes, out);
    nRead += out.size();
    return ok;
  }
  uint64_t nRead = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const unsigned megabytes = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 64;
  const DWORD waitMs = 30000;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string root = std::string(temp) + "tavrick-ftp-bench-" + std::to_string(GetCurrentProcessId());
  const std::string site = root + "\\FTPSVC1", log = site + "\\u_ex261209.log";
  CreateDirectoryA(root.c_str(), nullptr);
  CreateDirectoryA(site.c_str(), nullptr);
  {
    std::string block;
    const std::string old = Line("198.51.100.1");
    while (block.size() < (1u << 20)) block += old;
    if (!Append(log, kHeader)) return 1;
    for (unsigned i = 0; i < megabytes; ++i)
      if (!Append(log, block)) return 1;
  }
  WIN32_FILE_ATTRIBUTE_DATA data;
  GetFileAttributesExA(log.c_str(), GetFileExInfoStandard, &data);
  const double size = (static_cast<double>(data.nFileSizeHigh) * 4294967296.0 + data.nFileSizeLow) / 1048576.0;

  // The follower's first look alone, counting its reads.
  CCountingPort port;
  CLogFollower follower(port, site);
  const LARGE_INTEGER lookStart = Tick();
  follower.Poll([](const CLogonEvent&) {});
  const double lookMs = Ms(lookStart, Tick());
  std::printf("log %.1f MB: the first look read %llu bytes in %.1f ms\n", size,
              static_cast<unsigned long long>(port.nRead), lookMs);

  // The source as the program runs it: start, first report, a failure appended after it.
  auto inbox = std::make_shared<CGuardInbox>();
  CFtpLogSource source(inbox, root);
  const LARGE_INTEGER start = Tick();
  if (!source.Start()) return 1;
  while (!inbox->State(EGuardSource::kFtp).bReported && Ms(start, Tick()) < waitMs) Sleep(1);
  const LARGE_INTEGER reported = Tick();
  Append(log, Line("203.0.113.99"));
  bool seen = false;
  while (!seen && Ms(start, Tick()) < waitMs) {
    for (const CLogonEvent& event : inbox->Take(1000)) seen = seen || event.strAddress == "203.0.113.99";
    if (!seen) Sleep(1);
  }
  const LARGE_INTEGER arrived = Tick();
  std::printf("source: first report %.1f ms after the start (\"%s\")\n", Ms(start, reported),
              inbox->State(EGuardSource::kFtp).strText.c_str());
  if (seen)
    std::printf("source: a failure appended then reached the queue %.1f ms later, %.1f ms after the start\n",
                Ms(reported, arrived), Ms(start, arrived));
  else
    std::printf("source: a failure appended then did not reach the queue within %lu ms of the start\n",
                static_cast<unsigned long>(waitMs));
  source.Stop();
  DeleteFileA(log.c_str());
  RemoveDirectoryA(site.c_str());
  RemoveDirectoryA(root.c_str());
  return seen ? 0 : 2;
}
