#include "webguard/watch_rounds.h"

#include <algorithm>

#include "common/clock.h"
#include "config/daily_log.h"
#include "webguard/script_checker.h"
#include "webguard/watch_types.h"

const char kRescanLogNote[] = "变动过多,已重新扫描";

namespace {

std::u16string WideChild(const CWebFile& folder, const std::u16string& name) {
  if (folder.wstrPath.empty() || name.empty()) return std::u16string();
  return folder.wstrPath + u"\\" + name;
}

}  // namespace

bool IsCheckedAction(uint32_t action) {
  return action == kNoticeAdded || action == kNoticeModified || action == kNoticeRenamedNew;
}

std::vector<CNotice> FilesToCheck(const std::vector<CNotice>& notices, const CWatchTarget& target) {
  std::vector<CNotice> files;
  std::vector<bool> gone;
  for (const CNotice& notice : notices) {
    const auto same = std::find_if(files.begin(), files.end(), [&](const CNotice& f) {
      return f.strName == notice.strName && f.wstrName == notice.wstrName;
    });
    if (same != files.end()) {
      // The last notice decides: a file removed or renamed away again has nothing to check.
      gone[same - files.begin()] = notice.action == kNoticeRemoved || notice.action == kNoticeRenamedOld;
      continue;
    }
    if (!IsCheckedAction(notice.action)) continue;
    if (!MatchesWatchType(target.folder.strPath + "\\" + notice.strName, target.pTypes, target.nTypes)) continue;
    files.push_back(notice);
    gone.push_back(false);
  }
  std::vector<CNotice> kept;
  for (size_t i = 0; i < files.size(); ++i) {
    if (!gone[i]) kept.push_back(std::move(files[i]));
  }
  return kept;
}

void CWatchRounds::Run(const CWatchTarget& target) {
  bool armed = m_changes.Arm();
  for (;;) {
    if (!armed) {
      if (!m_changes.Pause(kWatchRetryPauseMs)) return;
      armed = m_changes.Arm();
      continue;
    }
    std::vector<CNotice> notices;
    const ReadOutcome outcome = m_changes.Wait(&notices);
    if (outcome == ReadOutcome::kStopped) return;
    armed = m_changes.Arm();
    if (outcome == ReadOutcome::kNotices) Queue(notices, target);
    if (outcome == ReadOutcome::kOverflow) Rescan(target);
  }
}

void CWatchRounds::Queue(const std::vector<CNotice>& notices, const CWatchTarget& target) {
  if (!target.pEnabled || !*target.pEnabled || !target.pFiles) return;
  const std::string time = FormatLocalTime(m_clock.Now(), kAddedTimeFormat);
  std::vector<std::unique_ptr<_CWatcherFile>> records;
  for (const CNotice& file : FilesToCheck(notices, target)) {
    records.push_back(MakeWatcherFile(target.folder.strPath + "\\" + file.strName, kActionAdded, time,
                                      WideChild(target.folder, file.wstrName)));
  }
  Append(std::move(records), target);
}

void CWatchRounds::Rescan(const CWatchTarget& target) {
  if (!target.pEnabled || !*target.pEnabled || !target.pFiles) return;
  const std::string time = FormatLocalTime(m_clock.Now(), kScannedTimeFormat);
  if (m_log) m_log(WatchLogText({{"-", target.folder.strPath, kRescanLogNote, time}}));
  std::vector<CWebFile> files;
  ListFilesRecursive(m_files, target.folder, &files);
  std::vector<std::unique_ptr<_CWatcherFile>> records;
  for (const CWebFile& file : files) {
    if (!MatchesWatchType(file.strPath, target.pTypes, target.nTypes)) continue;
    // Checked at once, as a scan's files are: the changes happened before the notices were lost.
    records.push_back(MakeWatcherFile(file.strPath, kActionScanned, time, file.wstrPath));
  }
  Append(std::move(records), target);
}

void CWatchRounds::Append(std::vector<std::unique_ptr<_CWatcherFile>> records, const CWatchTarget& target) {
  if (records.empty() || !m_changes.LockList()) return;
  for (auto& record : records) {
    // A file already waiting for its check is checked once, with its latest content.
    if (!IsPending(*target.pFiles, record->strFile, record->wstrFile)) target.pFiles->push_back(std::move(record));
  }
  m_changes.UnlockList();
}
