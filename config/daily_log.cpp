#include "config/daily_log.h"

#include <cstdio>

#include "config/config_keeper.h"

const char kLogFolder[] = ".\\log";
const char kWatchLogPrefix[] = "vr";

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr std::size_t kCellLimit = 99;
constexpr std::size_t kLogColumns = 4;

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
  return folder + "\\" + name;
}

// The folder that holds path ("." for a bare name); a trailing backslash is ignored.
std::string ParentFolder(const std::string& path) {
  std::string name = path;
  while (name.size() > 1 && (name.back() == '\\' || name.back() == '/')) name.pop_back();
  const size_t slash = name.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  return slash == 0 ? name.substr(0, 1) : name.substr(0, slash);
}

// Proleptic Gregorian date of a day count from 1970-01-01.
void CivilFromDays(int64_t days, int& year, unsigned& month, unsigned& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0); }

// At most kCellLimit bytes, never ending inside a double-byte character.
std::string Cell(const std::string& text) {
  std::size_t end = 0;
  while (end < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[end]);
    const std::size_t step = (c >= 0x81 && c <= 0xFE && end + 1 < text.size()) ? 2 : 1;
    if (end + step > kCellLimit) break;
    end += step;
  }
  return text.substr(0, end);
}

}  // namespace

std::string LogFileName(const std::string& prefix, int64_t localSeconds) {
  int year;
  unsigned month, day;
  CivilFromDays(FloorDiv(localSeconds, kSecondsPerDay), year, month, day);
  char date[32];
  std::snprintf(date, sizeof date, "%04d_%02u_%02u", year, month, day);
  return prefix + date + ".txt";
}

void AppendLog(ILogFileSystem& fs, const std::string& text, const std::string& folder, const std::string& prefix) {
  const std::string name = LogFileName(prefix, fs.LocalNow());
  if (!fs.IsDirectory(folder)) fs.CreateFolder(folder);
  fs.AppendToFile(Join(folder, name), text);
}

std::string LogClock(int64_t localSeconds) {
  const int64_t seconds = ((localSeconds % kSecondsPerDay) + kSecondsPerDay) % kSecondsPerDay;
  char clock[16];
  std::snprintf(clock, sizeof clock, "%02d:%02d:%02d ", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return clock;
}

int FileAgeDays(ILogFileSystem& fs, const std::string& path) {
  int64_t written = 0;
  if (!fs.LastWriteLocal(path, written)) return 0;
  return static_cast<int>((fs.LocalNow() - written) / kSecondsPerDay);
}

namespace {

void DeleteOldFilesBelow(ILogFileSystem& fs, const std::string& folder, int days) {
  std::vector<CFolderEntry> entries;
  if (!fs.ListFolder(folder, entries)) return;
  for (const CFolderEntry& entry : entries) {
    // A junction or link may point anywhere, the system folder included: neither entered
    // nor deleted.
    if (entry.bReparsePoint) continue;
    const std::string path = Join(folder, entry.strName);
    if (!entry.bDirectory) {
      if (FileAgeDays(fs, path) >= days) fs.RemoveFile(path);
    } else if (entry.strName.empty() || entry.strName[0] != '.') {
      DeleteOldFilesBelow(fs, path, days);
    }
  }
}

}  // namespace

void DeleteOldFiles(ILogFileSystem& fs, const std::string& folder, int days) {
  // The folder itself may have been replaced by a junction to anywhere (the system folder
  // included): deleting "old files" there would delete whatever lives there.
  // The note goes beside it, never through it (nor through a link in its place): what is
  // written through a junction lands wherever the junction leads.
  if (fs.IsReparsePoint(folder)) {
    const std::string beside = ParentFolder(folder);
    const std::string note = Join(beside, LogFileName(kConfigLogPrefix, fs.LocalNow()));
    if (fs.IsDirectory(beside) && !fs.IsReparsePoint(beside) && !fs.IsReparsePoint(note))
      fs.AppendToFile(note, LogClock(fs.LocalNow()) + folder + "是联接或符号链接,未清理旧日志\r\n");
    return;
  }
  DeleteOldFilesBelow(fs, folder, days);
}

std::string LogCleanupFolder(const std::string& programFolder) { return Join(programFolder, "log\\"); }

bool WatchLogDue(std::size_t rowCount, int threshold) {
  return static_cast<int64_t>(rowCount) > static_cast<int64_t>(threshold);
}

std::string WatchLogText(const std::vector<std::vector<std::string>>& rows) {
  std::string text;
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < kLogColumns; ++i) {
      text += i < row.size() ? Cell(row[i]) : std::string();
      text += i + 1 < kLogColumns ? "  " : " \r\n ";
    }
  }
  return text;
}
