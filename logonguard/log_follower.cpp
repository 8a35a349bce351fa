#include "logonguard/log_follower.h"

#include <algorithm>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Names compared as a person reads them: runs of digits by their value, letters without case;
// equal readings fall back to the bytes, so the order is total.
int CompareNames(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t endA = i, endB = j;
      while (endA < a.size() && IsDigit(a[endA])) ++endA;
      while (endB < b.size() && IsDigit(b[endB])) ++endB;
      while (i + 1 < endA && a[i] == '0') ++i;
      while (j + 1 < endB && b[j] == '0') ++j;
      if (endA - i != endB - j) return endA - i < endB - j ? -1 : 1;
      const int digits = a.compare(i, endA - i, b, j, endB - j);
      if (digits != 0) return digits < 0 ? -1 : 1;
      i = endA;
      j = endB;
      continue;
    }
    const char ca = Lower(a[i]), cb = Lower(b[j]);
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
  return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

}  // namespace

bool LogFileOlder(const CLogFileEntry& a, const CLogFileEntry& b) {
  if (a.nWritten != b.nWritten) return a.nWritten < b.nWritten;
  return CompareNames(a.strName, b.strName) < 0;
}

void CLogFollower::StartFile(const CLogFileEntry& file, uint64_t quietUntil) {
  m_strCurrent = file.strName;
  m_nCurrentWritten = file.nWritten;
  m_nPos = 0;
  m_nQuietUntil = quietUntil;
  m_nLastSize = 0;
  m_bGrew = false;
  m_lines.Clear();
  m_reader.Reset();
}

bool CLogFollower::ReadQuietly(uint64_t offset, size_t length, bool fromLineStart) {
  std::string chunk;
  size_t got = 0;
  while (got < length) {
    std::string piece;
    if (!m_files.ReadAt(m_strFolder, m_strCurrent, offset + got, length - got, piece)) return false;
    if (piece.empty()) break;
    if (piece.size() > length - got) piece.resize(length - got);
    chunk += piece;
    got += piece.size();
  }
  size_t start = 0;
  if (!fromLineStart) {
    // The bytes before the first line break end a line that began before the read; with no line
    // break at all the assembler takes the piece for an overlong line and drops it whole.
    const size_t lineBreak = chunk.find('\n');
    if (lineBreak != std::string::npos) start = lineBreak + 1;
  }
  m_lines.Feed(chunk.data() + start, chunk.size() - start,
               [&](const char* line, size_t size) { m_reader.ReadLine(line, size); });
  m_nPos = offset + got;
  return true;
}

bool CLogFollower::StartAtEnd(const CLogFileEntry& file) {
  uint64_t size = 0;
  if (!m_files.FileSize(m_strFolder, file.strName, size)) return false;
  StartFile(file, size);
  m_nLastSize = size;
  if (size <= kHeadBytes + kTailBytes) return true;  // small enough to read quietly as it is
  // IIS writes its directives at the head of a file, and again after a restart: the columns
  // are the head's unless the tail names others.
  bool ok = ReadQuietly(0, kHeadBytes, true);
  m_lines.Clear();
  // One byte before the tail tells whether the tail begins with a whole line.
  ok = ok && ReadQuietly(size - kTailBytes - 1, kTailBytes + 1, false);
  if (!ok) m_strCurrent.clear();
  m_nQuietUntil = std::max(m_nQuietUntil, m_nPos);
  return ok;
}

void CLogFollower::FlushHeld(const std::function<void(const CLogonEvent&)>& onEvent) {
  m_lines.Flush([&](const char* line, size_t length) {
    const CLogonEvent event = m_reader.ReadLine(line, length);
    if (event.eOutcome != ELogonOutcome::kNone) onEvent(event);
  });
}

bool CLogFollower::ReadNew(const std::function<void(const CLogonEvent&)>& onEvent) {
  uint64_t size = 0;
  if (!m_files.FileSize(m_strFolder, m_strCurrent, size)) {
    m_bListNext = true;
    return false;
  }
  if (size < m_nPos) StartFile({m_strCurrent, m_nCurrentWritten}, 0);  // truncated or rewritten: its lines are new
  // A file that has just stopped growing may have been left for a newer one.
  const bool grew = size > m_nLastSize;
  if (m_bGrew && !grew) m_bListNext = true;
  m_bGrew = grew;
  m_nLastSize = size;
  uint64_t budget = m_nMaxBytesPerLook;
  std::string chunk;
  while (m_nPos < size && budget > 0) {
    uint64_t want = std::min<uint64_t>({kChunkBytes, size - m_nPos, budget});
    const bool quiet = m_nPos < m_nQuietUntil;
    if (quiet) want = std::min<uint64_t>(want, m_nQuietUntil - m_nPos);
    chunk.clear();
    if (!m_files.ReadAt(m_strFolder, m_strCurrent, m_nPos, static_cast<size_t>(want), chunk)) {
      m_bListNext = true;
      return false;
    }
    if (chunk.empty()) break;
    if (chunk.size() > want) chunk.resize(static_cast<size_t>(want));
    m_nPos += chunk.size();
    budget -= chunk.size();
    m_lines.Feed(chunk.data(), chunk.size(), [&](const char* line, size_t length) {
      const CLogonEvent event = m_reader.ReadLine(line, length);
      if (!quiet && event.eOutcome != ELogonOutcome::kNone) onEvent(event);
    });
  }
  return true;
}

CLogFollower::EListing CLogFollower::ListNewest(CLogFileEntry& newest) {
  size_t count = 0;
  bool any = false;
  m_bBeyondCap = false;
  const bool ok = m_files.ListLogFiles(m_strFolder, [&](const CLogFileEntry& entry) {
    if (count >= kMaxListedFiles) {
      m_bBeyondCap = true;
      return false;
    }
    ++count;
    if (!any || LogFileOlder(newest, entry)) newest = entry;
    any = true;
    if (entry.strName == m_strCurrent) m_nCurrentWritten = entry.nWritten;
    return true;
  });
  if (!ok) return EListing::kFailed;
  return any ? EListing::kFound : EListing::kEmpty;
}

EFollowState CLogFollower::Choose(const std::function<void(const CLogonEvent&)>& onEvent, bool& read) {
  read = false;
  CLogFileEntry newest;
  const EListing listing = ListNewest(newest);
  if (listing == EListing::kFailed) {
    m_bListNext = true;
    return EFollowState::kFolderUnavailable;
  }
  if (listing == EListing::kEmpty) {
    m_bLooked = true;  // a file made later is read from its start
    m_strCurrent.clear();
    return EFollowState::kNoLogFile;
  }
  if (m_strCurrent.empty()) {
    if (m_bLooked) {
      StartFile(newest, 0);
    } else if (!StartAtEnd(newest)) {
      m_bListNext = true;
      return EFollowState::kFileUnreadable;
    }
    m_bLooked = true;
    return EFollowState::kWatching;
  }
  if (newest.strName == m_strCurrent) return EFollowState::kWatching;
  uint64_t size = 0;
  const bool currentThere = m_files.FileSize(m_strFolder, m_strCurrent, size);
  if (!LogFileOlder({m_strCurrent, m_nCurrentWritten}, newest)) {
    // Only older files besides the current one (or, when it is gone, at all): their lines are history.
    if (currentThere) return EFollowState::kWatching;
    if (!StartAtEnd(newest)) {
      m_bListNext = true;
      return EFollowState::kFileUnreadable;
    }
    return EFollowState::kWatching;
  }
  // A newer file: the old one is finished first (over as many looks as that takes), then the
  // new one is read from its start.
  read = true;
  if (currentThere) {
    if (!ReadNew(onEvent)) return EFollowState::kFileUnreadable;
    if (m_nPos < m_nLastSize) {
      m_bListNext = true;
      return EFollowState::kWatching;
    }
  }
  FlushHeld(onEvent);
  StartFile(newest, 0);
  return ReadNew(onEvent) ? EFollowState::kWatching : EFollowState::kFileUnreadable;
}

EFollowState CLogFollower::Poll(const std::function<void(const CLogonEvent&)>& onEvent) {
  const EFolderChange change = m_files.FolderChange(m_strFolder);
  bool list = m_bListNext || !m_bLooked || change == EFolderChange::kChanged ||
              (m_strCurrent.empty() && change == EFolderChange::kUnknown);
  if (change == EFolderChange::kUnknown && ++m_nBlindLooks >= kBlindLooksPerListing) list = true;
  if (list) {
    m_bListNext = false;
    m_nBlindLooks = 0;
    bool read = false;
    const EFollowState state = Choose(onEvent, read);
    // Choose has read this look's share when it finished an old file or went on to a new one.
    if (state != EFollowState::kWatching || read) return state;
  }
  if (m_strCurrent.empty()) return EFollowState::kNoLogFile;
  return ReadNew(onEvent) ? EFollowState::kWatching : EFollowState::kFileUnreadable;
}
