#include "logonguard/log_follower.h"

#include <algorithm>

void CLogFollower::StartFile(const std::string& name, uint64_t quietUntil) {
  m_strCurrent = name;
  m_nPos = 0;
  m_nQuietUntil = quietUntil;
  m_lines.Clear();
  m_reader.Reset();
}

bool CLogFollower::ReadNew(const std::function<void(const CLogonEvent&)>& onEvent) {
  uint64_t size = 0;
  if (!m_files.FileSize(m_strFolder, m_strCurrent, size)) return false;
  if (size < m_nPos) StartFile(m_strCurrent, 0);  // truncated or rewritten: its lines are new
  uint64_t budget = m_nMaxBytesPerLook;
  std::string chunk;
  while (m_nPos < size && budget > 0) {
    uint64_t want = std::min<uint64_t>({kChunkBytes, size - m_nPos, budget});
    const bool quiet = m_nPos < m_nQuietUntil;
    if (quiet) want = std::min<uint64_t>(want, m_nQuietUntil - m_nPos);
    chunk.clear();
    if (!m_files.ReadAt(m_strFolder, m_strCurrent, m_nPos, static_cast<size_t>(want), chunk)) return false;
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

EFollowState CLogFollower::Poll(const std::function<void(const CLogonEvent&)>& onEvent) {
  std::vector<std::string> names;
  if (!m_files.ListLogFiles(m_strFolder, names)) return EFollowState::kFolderUnavailable;
  if (names.empty()) {
    m_bLooked = true;  // a file made later is read from its start
    return EFollowState::kNoLogFile;
  }
  const std::string latest = *std::max_element(names.begin(), names.end());
  const bool currentListed = std::find(names.begin(), names.end(), m_strCurrent) != names.end();
  if (m_strCurrent.empty() || (!currentListed && latest < m_strCurrent)) {
    uint64_t size = 0;
    const bool first = !m_bLooked || !m_strCurrent.empty();
    if (first && !m_files.FileSize(m_strFolder, latest, size)) return EFollowState::kFileUnreadable;
    StartFile(latest, first ? size : 0);
  } else if (latest > m_strCurrent) {
    // A newer day began: finish the old file first (over as many looks as that takes), then read
    // the new one from its start.
    uint64_t oldSize = 0;
    if (currentListed && ReadNew(onEvent) && m_files.FileSize(m_strFolder, m_strCurrent, oldSize) && m_nPos < oldSize)
      return EFollowState::kWatching;
    m_lines.Flush([&](const char* line, size_t length) {
      const CLogonEvent event = m_reader.ReadLine(line, length);
      if (event.eOutcome != ELogonOutcome::kNone) onEvent(event);
    });
    StartFile(latest, 0);
  }
  m_bLooked = true;
  return ReadNew(onEvent) ? EFollowState::kWatching : EFollowState::kFileUnreadable;
}
