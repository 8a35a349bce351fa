#pragma once
// Follows the current W3C log file of one folder. IIS starts a new file each day or hour
// (u_exYYMMDD.log, u_exYYMMDDHH.log), when the size limit is reached (u_extend1.log ...
// u_extend10.log) and when the log format is switched (u_ex, u_extend, u_nc ...), so the current
// file is the one written last; its name only breaks a tie, with runs of digits compared as
// numbers (u_extend10 is newer than u_extend9).
//
// On its very first look the follower takes the current file's directives from its head and the
// last part of its tail and starts at its end: old history is not blocked again at every start,
// and a 64 MB file costs two small reads. Later it reads what was appended, starts over when the
// file shrank (truncated or rewritten), and moves on to a newer file (one that appeared later)
// only after the old one is read to its end; the newer one is read from its start.
//
// The folder is listed again only when the port says its names changed, when the current file
// has just stopped growing, or, where the port cannot tell, every kBlindLooksPerListing looks:
// never at every look while a file is being written.
#include <cstdint>
#include <functional>
#include <string>

#include "logonguard/w3c_log.h"

struct CLogFileEntry {
  std::string strName;
  uint64_t nWritten = 0;  // last write time in any unit that grows with time (Win32: FILETIME ticks)
};

enum class EFolderChange {
  kNone,     // no file was made, removed or renamed since the last question
  kChanged,  // something was (or this is the first question about the folder)
  kUnknown,  // the port cannot watch this folder
};

// The file system as the follower needs it; names are plain file names inside the folder.
class ILogFilePort {
 public:
  virtual ~ILogFilePort() = default;
  // Hands every log file ("*.log") of the folder to take until take returns false; false when the
  // folder cannot be listed.
  virtual bool ListLogFiles(const std::string& folder, const std::function<bool(const CLogFileEntry&)>& take) = 0;
  virtual bool FileSize(const std::string& folder, const std::string& name, uint64_t& size) = 0;
  // Up to maxBytes from offset; false when the file cannot be read.
  virtual bool ReadAt(const std::string& folder, const std::string& name, uint64_t offset, size_t maxBytes,
                      std::string& out) = 0;
  // Whether names in the folder changed since the last question about it.
  virtual EFolderChange FolderChange(const std::string& folder) = 0;
};

enum class EFollowState { kWatching, kNoLogFile, kFolderUnavailable, kFileUnreadable };

// Whether a is older than b: by write time, then by name with digit runs as numbers, ignoring case.
bool LogFileOlder(const CLogFileEntry& a, const CLogFileEntry& b);

class CLogFollower {
 public:
  static constexpr size_t kChunkBytes = 64 * 1024;
  static constexpr uint64_t kMaxBytesPerLook = 8 * 1024 * 1024;  // the rest waits for the next look
  static constexpr size_t kHeadBytes = 64 * 1024;   // directives at the start of a file
  static constexpr size_t kTailBytes = 64 * 1024;   // directives written again after a restart
  static constexpr size_t kMaxListedFiles = 100000;  // names read from one listing
  static constexpr int kBlindLooksPerListing = 60;

  // maxBytesPerLook: a smaller bound lets a caller with a bounded queue take the rest later.
  // toAnsi: how user names are converted for the window (IIS writes UTF-8).
  CLogFollower(ILogFilePort& files, std::string folder, uint64_t maxBytesPerLook = kMaxBytesPerLook,
               TextConverter toAnsi = {})
      : m_files(files), m_strFolder(std::move(folder)), m_nMaxBytesPerLook(maxBytesPerLook), m_reader(std::move(toAnsi)) {}

  // One look; every failure or success of a complete new line goes to onEvent.
  EFollowState Poll(const std::function<void(const CLogonEvent&)>& onEvent);
  const std::string& CurrentFile() const { return m_strCurrent; }
  uint64_t Position() const { return m_nPos; }
  // The last listing stopped at kMaxListedFiles names: a newer file may lie beyond them.
  bool FilesBeyondCap() const { return m_bBeyondCap; }

 private:
  enum class EListing { kFound, kEmpty, kFailed };
  EListing ListNewest(CLogFileEntry& newest);
  EFollowState Choose(const std::function<void(const CLogonEvent&)>& onEvent, bool& read);
  bool ReadNew(const std::function<void(const CLogonEvent&)>& onEvent);
  void StartFile(const CLogFileEntry& file, uint64_t quietUntil);
  bool StartAtEnd(const CLogFileEntry& file);
  bool ReadQuietly(uint64_t offset, size_t length, bool fromLineStart);
  void FlushHeld(const std::function<void(const CLogonEvent&)>& onEvent);

  ILogFilePort& m_files;
  std::string m_strFolder;
  std::string m_strCurrent;
  uint64_t m_nCurrentWritten = 0;
  uint64_t m_nMaxBytesPerLook;
  uint64_t m_nPos = 0;
  uint64_t m_nQuietUntil = 0;  // lines that end before this offset set columns but report nothing
  uint64_t m_nLastSize = 0;
  bool m_bLooked = false;
  bool m_bGrew = false;         // the current file grew at the last look
  bool m_bListNext = false;     // the next look lists the folder
  bool m_bBeyondCap = false;
  int m_nBlindLooks = 0;
  CLineAssembler m_lines;
  CW3cReader m_reader;
};
