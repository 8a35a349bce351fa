#include "webguard/watch_rounds.h"

#include <algorithm>
#include <unordered_set>

#include "common/clock.h"
#include "config/daily_log.h"
#include "webguard/script_checker.h"
#include "webguard/watch_types.h"

const char kRescanLogNote[] = "变动过多,已重新扫描";
const char kWatchLostLogNote[] = "无法监视";
const char kWatchBackLogNote[] = "恢复监视,已重新扫描";
const char kWatchLostMessage[] = "网站保护无法监视文件夹,恢复后自动继续:";
const char kWatchReopenedLogNote[] = "文件夹已重新打开,已重新扫描";
const char kWatchReopenedMessage[] = "网站保护的文件夹被删除、替换或读取出错,已重新打开并扫描:";
const char kBacklogFullLogNote[] = "待查文件过多,未排队:";

namespace {

std::u16string WideChild(const CWebFile& folder, const std::u16string& name) {
  if (folder.wstrPath.empty() || name.empty()) return std::u16string();
  return folder.wstrPath + u"\\" + name;
}

CWebFile Child(const CWebFile& folder, const CNotice& notice) {
  return CWebFile{folder.strPath + "\\" + notice.strName, WideChild(folder, notice.wstrName)};
}

std::string RecordKey(const std::string& path, const std::u16string& wide) {
  std::string key = path;
  key.push_back('\0');
  for (char16_t unit : wide) {
    key.push_back(static_cast<char>(unit & 0xFF));
    key.push_back(static_cast<char>(unit >> 8));
  }
  return key;
}

bool HasShortNamePart(const CNotice& notice) {
  return notice.strName.find('~') != std::string::npos ||
         notice.wstrName.find(u'~') != std::u16string::npos;
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

void CWatchRounds::Log(const CWatchTarget& target, const char* note) {
  if (m_log) m_log(WatchLogText({{"-", target.folder.strPath, note, FormatLocalTime(m_clock.Now(), kScannedTimeFormat)}}));
}

void CWatchRounds::SetWatching(bool watching) {
  if (m_nWatching == static_cast<int>(watching)) return;
  m_nWatching = watching;
  if (m_reports.watching) m_reports.watching(watching);
}

void CWatchRounds::Run(const CWatchTarget& target) {
  bool armed = m_changes.Arm();
  bool lost = false;
  for (;;) {
    if (!armed) {
      // Told once per outage; the watching goes on as soon as the folder can be read again.
      SetWatching(false);
      if (!lost) {
        lost = true;
        Log(target, kWatchLostLogNote);
        if (m_reports.message) m_reports.message(kWatchLostMessage + target.folder.strPath);
      }
      if (!m_changes.Pause(kWatchReopenPauseMs)) return;
      armed = m_changes.Reopen() && m_changes.Arm();
      continue;
    }
    SetWatching(true);
    if (lost) {
      lost = false;
      Rescan(target, kWatchBackLogNote);  // what came while nothing watched
    }
    std::vector<CNotice> notices;
    const ReadOutcome outcome = m_changes.Wait(&notices);
    if (outcome == ReadOutcome::kStopped) return;
    if (outcome == ReadOutcome::kFailed) {
      // The folder may be gone or replaced; it is opened afresh at once. Opened, the path may
      // hold another folder now (renamed away and a new one put there): told, and looked
      // through for what it holds. Not opened: told as lost, above.
      armed = m_changes.Reopen() && m_changes.Arm();
      if (armed) {
        if (m_reports.message) m_reports.message(kWatchReopenedMessage + target.folder.strPath);
        Rescan(target, kWatchReopenedLogNote);
      }
      continue;
    }
    armed = m_changes.Arm();
    if (outcome == ReadOutcome::kNotices) Queue(notices, target);
    if (outcome == ReadOutcome::kOverflow) Rescan(target);
  }
}

CNotice CWatchRounds::LongNamed(const CNotice& notice, const CWatchTarget& target) {
  if (!HasShortNamePart(notice) || notice.action == kNoticeRemoved || notice.action == kNoticeRenamedOld) {
    return notice;
  }
  const CWebFile full = m_files.LongPath(Child(target.folder, notice));
  if (full.strPath.empty()) return notice;
  // The notice's own parts, in their long form.
  CNotice named = notice;
  named.strName = LastPathParts(full.strPath, PathPartCount(notice.strName));
  if (!full.wstrPath.empty()) named.wstrName = LastPathParts(full.wstrPath, PathPartCount(notice.strName));
  return named;
}

void CWatchRounds::Queue(const std::vector<CNotice>& notices, const CWatchTarget& target) {
  if (!target.pEnabled || !*target.pEnabled || !target.pFiles) return;
  const std::string time = FormatLocalTime(m_clock.Now(), kAddedTimeFormat);
  std::vector<std::unique_ptr<_CWatcherFile>> records;
  std::vector<CNotice> files;
  for (const CNotice& notice : notices) {
    CNotice named = LongNamed(notice, target);
    const bool arrived = named.action == kNoticeAdded || named.action == kNoticeRenamedNew;
    const bool typed = MatchesWatchType(target.folder.strPath + "\\" + named.strName, target.pTypes, target.nTypes);
    if ((arrived || typed) && IsCheckedAction(named.action) && IsFolder(m_files, Child(target.folder, named))) {
      // A folder that arrives: what it brought along is checked like uploads.
      std::vector<CWebFile> below;
      if (arrived) ListFilesRecursive(m_files, Child(target.folder, named), &below, [this] { return m_changes.Stopping(); });
      for (const CWebFile& file : below) {
        if (MatchesWatchType(file.strPath, target.pTypes, target.nTypes)) {
          records.push_back(MakeWatcherFile(file.strPath, kActionAdded, time, file.wstrPath));
        }
      }
      continue;
    }
    files.push_back(std::move(named));
  }
  for (const CNotice& file : FilesToCheck(files, target)) {
    records.push_back(MakeWatcherFile(target.folder.strPath + "\\" + file.strName, kActionAdded, time,
                                      WideChild(target.folder, file.wstrName)));
  }
  Append(std::move(records), target);
}

void CWatchRounds::Rescan(const CWatchTarget& target, const char* note) {
  if (!target.pEnabled || !*target.pEnabled || !target.pFiles) return;
  const std::string time = FormatLocalTime(m_clock.Now(), kScannedTimeFormat);
  Log(target, note);
  std::vector<CWebFile> files;
  ListFilesRecursive(m_files, target.folder, &files, [this] { return m_changes.Stopping(); });
  std::vector<std::unique_ptr<_CWatcherFile>> records;
  for (const CWebFile& file : files) {
    if (m_changes.Stopping()) return;
    if (!MatchesWatchType(file.strPath, target.pTypes, target.nTypes)) continue;
    // Checked at once, as a scan's files are: the changes happened before the notices were lost.
    records.push_back(MakeWatcherFile(file.strPath, kActionScanned, time, file.wstrPath));
  }
  Append(std::move(records), target);
}

void CWatchRounds::Append(std::vector<std::unique_ptr<_CWatcherFile>> records, const CWatchTarget& target) {
  if (records.empty() || !m_changes.LockList()) return;
  // A file already waiting for its check is checked once, with its latest content; one set of
  // the waiting files keeps a rescan of many files linear.
  std::unordered_set<std::string> waiting;
  for (const auto& file : *target.pFiles) waiting.insert(RecordKey(file->strFile, file->wstrFile));
  size_t dropped = 0;
  for (auto& record : records) {
    if (!waiting.insert(RecordKey(record->strFile, record->wstrFile)).second) continue;
    // The backlog is bounded: what does not fit is counted and told, not kept.
    if (target.pFiles->size() >= kMaxPendingFiles) {
      ++dropped;
      continue;
    }
    target.pFiles->push_back(std::move(record));
  }
  m_changes.UnlockList();
  if (dropped == 0) {
    m_bBacklogTold = false;  // the next overflow is told again
    return;
  }
  m_nDropped += dropped;
  if (m_log) {
    m_log(WatchLogText({{"-", target.folder.strPath, kBacklogFullLogNote + std::to_string(dropped),
                         FormatLocalTime(m_clock.Now(), kScannedTimeFormat)}}));
  }
  if (!m_bBacklogTold && m_reports.message) m_reports.message(kBacklogFullMessage + target.folder.strPath);
  m_bBacklogTold = true;
}
