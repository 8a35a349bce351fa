#pragma once
// The dated log files in the log folder: appending the day's file, the daily clean-up of old
// files, and the text of the website-change log.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/folder_entry.h"

// Files and folders of the logs, and the local wall clock that dates them. Times are local
// wall-clock seconds counted like time() (so a day is always 86,400 of them).
class ILogFileSystem {
 public:
  virtual ~ILogFileSystem() = default;
  virtual bool IsDirectory(const std::string& path) = 0;
  virtual bool CreateFolder(const std::string& path) = 0;
  // Opens for writing, created when missing and never truncated, and writes at its end.
  virtual bool AppendToFile(const std::string& path, const std::string& bytes) = 0;
  // Every entry of the folder ("*.*"); false when the folder cannot be read.
  virtual bool ListFolder(const std::string& folder, std::vector<CFolderEntry>& entries) = 0;
  // Last-write time of a file or folder; false when it cannot be opened or read.
  virtual bool LastWriteLocal(const std::string& path, int64_t& seconds) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
  // Whether the file or folder itself is a junction or symbolic link (a trailing backslash
  // is ignored); false when it is not there.
  virtual bool IsReparsePoint(const std::string& path) = 0;
  virtual int64_t LocalNow() = 0;
};

extern const char kLogFolder[];       // ".\log", relative to the current directory
extern const char kWatchLogPrefix[];  // "vr"

// prefix + local date "%Y_%m_%d" + ".txt"
std::string LogFileName(const std::string& prefix, int64_t localSeconds);
// The time of day "HH:MM:SS " that begins a line of the program's own notes.
std::string LogClock(int64_t localSeconds);

// Appends the text to folder\<prefix><date>.txt, creating the folder (one level) and the file
// when missing. Every failure is swallowed: the text is then lost.
void AppendLog(ILogFileSystem& fs, const std::string& text, const std::string& folder, const std::string& prefix);

// Whole days since the last write, truncated towards zero; 0 when the time cannot be read.
int FileAgeDays(ILogFileSystem& fs, const std::string& path);

// Deletes every file at least `days` old here and in every sub-folder whose name does not
// begin with a dot. Junctions and symbolic links are left alone, so the walk never leaves the
// folder; when the folder itself is one, nothing is deleted at all and a note saying so goes
// to a day's "cfg" log beside it (in its parent folder, never through the link). Unreadable
// folders and failed deletions are passed over.
void DeleteOldFiles(ILogFileSystem& fs, const std::string& folder, int days);

// The folder the daily clean-up works on: the program's folder, "\log\".
std::string LogCleanupFolder(const std::string& programFolder);

// The website-change list is written out once it holds more rows than the threshold.
bool WatchLogDue(std::size_t rowCount, int threshold);
// Rows in display order, their first four cells joined by two blanks, each row ended by
// " \r\n "; a cell contributes at most 99 bytes.
std::string WatchLogText(const std::vector<std::vector<std::string>>& rows);
