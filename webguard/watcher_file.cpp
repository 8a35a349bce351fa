#include "webguard/watcher_file.h"

#include <ctime>

const char kActionAdded[] = "增加";
const char kActionScanned[] = "扫描";
const char kAddedTimeFormat[] = "%m.%d %H:%M:%S";
const char kScannedTimeFormat[] = "%y.%m.%d %H:%M:%S";

CWatcherFileList g_WatchFileList;
std::atomic<int32_t> g_bScanning{0};

std::unique_ptr<_CWatcherFile> MakeWatcherFile(const std::string& path, const char* action,
                                               const std::string& time, const std::u16string& widePath) {
  auto file = std::make_unique<_CWatcherFile>();
  file->strFile = path;
  file->wstrFile = widePath;
  file->strAction = action;
  file->strTime = time;
  file->nState = 0;
  return file;
}

bool IsPending(const CWatcherFileList& list, const std::string& path, const std::u16string& widePath) {
  for (const auto& file : list) {
    if (file->strFile == path && file->wstrFile == widePath) return true;
  }
  return false;
}

std::string FormatLocalTime(int64_t seconds, const char* format) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm local {};
#ifdef _WIN32
  if (localtime_s(&local, &t) != 0) return std::string();
#else
  if (!localtime_r(&t, &local)) return std::string();
#endif
  char text[64] = {};
  const size_t length = strftime(text, sizeof text, format, &local);
  return std::string(text, length);
}
