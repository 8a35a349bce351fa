#pragma once
// Follows the newest W3C log file of one folder (IIS writes one file a day, u_exYYMMDD.log, whose
// names sort by date): reads what was appended since the last look, starts over when the file
// shrank (truncated or rewritten), and moves on to a newer file once the old one is read to its
// end. On its very first look it starts at the end of the file, so old history is not blocked
// again at every start; the columns are still taken from the headers read on the way there.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "logonguard/w3c_log.h"

// The file system as the follower needs it; names are plain file names inside the folder.
class ILogFilePort {
 public:
  virtual ~ILogFilePort() = default;
  // The log files ("*.log") of the folder; false when the folder cannot be listed.
  virtual bool ListLogFiles(const std::string& folder, std::vector<std::string>& names) = 0;
  virtual bool FileSize(const std::string& folder, const std::string& name, uint64_t& size) = 0;
  // Up to maxBytes from offset; false when the file cannot be read.
  virtual bool ReadAt(const std::string& folder, const std::string& name, uint64_t offset, size_t maxBytes,
                      std::string& out) = 0;
};

enum class EFollowState { kWatching, kNoLogFile, kFolderUnavailable, kFileUnreadable };

class CLogFollower {
 public:
  static constexpr size_t kChunkBytes = 64 * 1024;
  static constexpr uint64_t kMaxBytesPerLook = 8 * 1024 * 1024;  // the rest waits for the next look

  // maxBytesPerLook: a smaller bound lets a caller with a bounded queue take the rest later.
  // toAnsi: how user names are converted for the window (IIS writes UTF-8).
  CLogFollower(ILogFilePort& files, std::string folder, uint64_t maxBytesPerLook = kMaxBytesPerLook,
               TextConverter toAnsi = {})
      : m_files(files), m_strFolder(std::move(folder)), m_nMaxBytesPerLook(maxBytesPerLook), m_reader(std::move(toAnsi)) {}

  // One look; every failure or success of a complete new line goes to onEvent.
  EFollowState Poll(const std::function<void(const CLogonEvent&)>& onEvent);
  const std::string& CurrentFile() const { return m_strCurrent; }
  uint64_t Position() const { return m_nPos; }

 private:
  bool ReadNew(const std::function<void(const CLogonEvent&)>& onEvent);
  void StartFile(const std::string& name, uint64_t quietUntil);

  ILogFilePort& m_files;
  std::string m_strFolder;
  std::string m_strCurrent;
  uint64_t m_nMaxBytesPerLook;
  uint64_t m_nPos = 0;
  uint64_t m_nQuietUntil = 0;  // lines that end before this offset set columns but report nothing
  bool m_bLooked = false;
  CLineAssembler m_lines;
  CW3cReader m_reader;
};
