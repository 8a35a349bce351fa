#include "webguard/script_checker.h"

#include <algorithm>
#include <cstdio>

#include "common/clock.h"
#include "config/daily_log.h"
#include "driver/driver_link.h"
#include "webguard/server_config.h"
#include "webguard/watch_types.h"

const char kSuspiciousType[] = "可疑";
const char kScanCaption[] = "开始扫描";
const char kNoScanFolderMessage[] = "请选择防护网站路径后再扫描!";
const char kScanStartingStatus[] = "开始扫描文件请等待...";
const char kLibraryMissingMessage[] = "特征库scriptviruslib.dll无法使用,网站文件未能检查!";

namespace {

// Settings files are small; a larger one is read for its first part.
constexpr size_t kMaxSettingsText = size_t{4} << 20;

// FNV-1a over the content: tells one content of a file from the next.
void AddToDigest(uint64_t* digest, const std::string& bytes) {
  for (unsigned char c : bytes) *digest = (*digest ^ c) * 1099511628211ULL;
}

std::string WaitingKey(const _CWatcherFile& file) {
  std::string key = file.strFile;
  key.push_back('\0');
  for (char16_t unit : file.wstrFile) {
    key.push_back(static_cast<char>(unit & 0xFF));
    key.push_back(static_cast<char>(unit >> 8));
  }
  return key;
}

}  // namespace

const char kUnreadableType[] = "无法读取";
const char kDeletedType[] = "已删除";
const char kCheckerRestartedMessage[] = "网站保护的文件检查出错,已重新开始检查";
const char kBacklogFullMessage[] = "网站保护待查文件过多,部分变动未能排队检查,请稍后扫描网站:";

CheckOutcome CScriptChecker::CheckFile(const CWebFile& file, uint64_t* digest) {
  *digest = 14695981039346656037ULL;
  if (!m_ports.library.Loaded()) {
    m_bLibraryFailed = true;
    return CheckOutcome::kClean;
  }
  m_entries.assign(kSignatureSlots, nullptr);
  int count = 0;
  if (!m_ports.library.FetchSignatures(m_entries.data(), &count)) {
    m_bLibraryFailed = true;
    return CheckOutcome::kClean;
  }
  m_signatures.Update(m_entries.data(), count);
  // Every byte of the file in both views, each through a scan of its own (the converted one only
  // where it differs from the bytes); the whole file is read for its digest.
  CViewsScan& scan = m_viewsScan;
  scan.Restart();
  bool found = false;
  // A server's folder settings are read as settings too: what they make run as a script.
  const ServerConfigKind config = ServerConfigKindOf(file.strPath);
  std::string settings;
  const bool read = ReadScriptText(m_ports.files, file, [&](const CScriptViews& views) {
    AddToDigest(digest, views.bytes);
    if (config != ServerConfigKind::kNone && settings.size() < kMaxSettingsText) settings += views.bytes;
    if (!found) found = scan.Feed(views);
    return true;
  }, true);
  // Gone before its check (a temporary upload moved on, a shell deleted again) is not locked.
  if (!read) return m_ports.files.Missing(file) ? CheckOutcome::kGone : CheckOutcome::kUnreadable;
  if (!found) found = scan.Finish();
  if (!found && config != ServerConfigKind::kNone) found = ServerConfigRunsOtherNames(config, settings);
  return found ? CheckOutcome::kSuspicious : CheckOutcome::kClean;
}

bool CScriptChecker::IsScriptSuspicious(const CWebFile& file) {
  uint64_t digest = 0;
  switch (CheckFile(file, &digest)) {
    case CheckOutcome::kSuspicious:
      return true;
    case CheckOutcome::kClean:
      return false;
    case CheckOutcome::kUnreadable:
    case CheckOutcome::kGone:
      break;
  }
  return m_signatures.Matches(" ");
}

void CScriptChecker::TakeOver() {
  const int64_t now = m_ports.sleeper.NowMs();
  CWatchListGuard guard(m_ports.lock);
  size_t taken = 0;
  for (; taken < m_ports.pending.size(); ++taken) {
    auto& file = m_ports.pending[taken];
    // A file already waiting keeps its first due time: rewriting it does not put its check off.
    if (!m_waitingKeys.insert(WaitingKey(*file)).second) continue;
    // Taken over and queued together the files stay within the bound; the rest wait in the list.
    if (m_waiting.size() >= kMaxPendingFiles) {
      m_waitingKeys.erase(WaitingKey(*file));
      break;
    }
    CWaiting waiting;
    waiting.nDueMs = file->strAction == kActionAdded ? now + kUploadSettleMs : now;
    waiting.file = std::move(file);
    m_waiting.push_back(std::move(waiting));
  }
  if (taken == m_ports.pending.size()) {
    m_ports.pending.clear();
    m_ports.pending.shrink_to_fit();
  } else {
    m_ports.pending.erase(m_ports.pending.begin(), m_ports.pending.begin() + static_cast<std::ptrdiff_t>(taken));
  }
}

void CScriptChecker::GiveBack(std::vector<CWaiting> waiting) {
  CWatchListGuard guard(m_ports.lock);
  CWatcherFileList back;
  for (CWaiting& w : waiting) back.push_back(std::move(w.file));
  for (auto& file : m_ports.pending) back.push_back(std::move(file));
  m_ports.pending = std::move(back);
}

int64_t CScriptChecker::NextDueInMs() {
  if (m_waiting.empty()) return -1;
  int64_t next = m_waiting.front().nDueMs;
  for (const CWaiting& w : m_waiting) next = std::min(next, w.nDueMs);
  return std::max<int64_t>(0, next - m_ports.sleeper.NowMs());
}

void CScriptChecker::Check(CWaiting& waiting, IWebGuardView& view) {
  const _CWatcherFile& file = *waiting.file;
  uint64_t digest = 0;
  const CheckOutcome outcome = CheckFile(CWebFile{file.strFile, file.wstrFile}, &digest);
  if (outcome == CheckOutcome::kClean || m_ports.Stopped()) return;  // a row belongs to whoever checks next
  const char* type = outcome == CheckOutcome::kSuspicious ? kSuspiciousType
                     : outcome == CheckOutcome::kGone     ? kDeletedType
                                                          : kUnreadableType;
  if (outcome == CheckOutcome::kUnreadable) {
    // Told once per record, in the list and the log; tried again a settle time later.
    if (waiting.nTries++ < kUnreadableRetries) {
      CWaiting again;
      again.file = MakeWatcherFile(file.strFile, file.strAction.c_str(), file.strTime, file.wstrFile);
      again.nDueMs = m_ports.sleeper.NowMs() + kUploadSettleMs;
      again.nTries = waiting.nTries;
      again.bToldUnreadable = true;
      if (m_waitingKeys.insert(WaitingKey(*again.file)).second) m_retries.push_back(std::move(again));
    }
    if (waiting.bToldUnreadable) return;
  }
  // A file gone is not tried again: if it comes back, its notice queues it.
  if (outcome != CheckOutcome::kSuspicious && m_ports.log) {
    m_ports.log(WatchLogText({{"-", file.strFile, type, FormatLocalTime(m_ports.clock.Now(), kScannedTimeFormat)}}));
  }
  // A path listed already adds no row and no alert, whatever its content is now.
  const int64_t now = m_ports.sleeper.NowMs();
  if (view.HasRow(file.strFile, type, now)) return;
  const int rows = view.RowCount();
  view.InsertCheckedRow(rows, std::to_string(rows), file.strFile, type, file.strTime, now);
  const int total = view.RowCount();
  if (view.AutoScroll() && total > 0) view.ScrollToRow(total - 1);
}

void CScriptChecker::CheckPendingBatch(IWebGuardView& view) {
  TakeOver();
  const int64_t now = m_ports.sleeper.NowMs();
  std::vector<CWaiting> due, later;
  for (CWaiting& w : m_waiting) (w.nDueMs <= now ? due : later).push_back(std::move(w));
  m_waiting = std::move(later);
  for (const CWaiting& w : due) m_waitingKeys.erase(WaitingKey(*w.file));
  // Checked without the list lock: the producers queue meanwhile.
  size_t done = 0;
  while (done < due.size() && !m_ports.Stopped()) {
    // Scanned files are checked in background mode, uploads at the thread's own priority.
    SetBackground(due[done].file->strAction == kActionScanned);
    // One bad file must not stop the others.
    try {
      Check(due[done], view);
    } catch (...) {
    }
    if (m_ports.Stopped()) break;  // the file in hand goes back with the rest
    ++done;
  }
  for (CWaiting& retry : m_retries) m_waiting.push_back(std::move(retry));
  m_retries.clear();
  if (m_ports.Stopped()) {
    // Not checked here: the next checker takes them over.
    std::vector<CWaiting> rest;
    for (size_t i = done; i < due.size(); ++i) rest.push_back(std::move(due[i]));
    for (CWaiting& w : m_waiting) rest.push_back(std::move(w));
    m_waiting.clear();
    m_waitingKeys.clear();
    GiveBack(std::move(rest));
  }
  // Told outside the lock: the message waits for the administrator.
  if (m_bLibraryFailed && !m_bLibraryReported && !m_ports.Stopped()) {
    m_bLibraryReported = true;
    view.ShowMessage(kLibraryMissingMessage);
  }
}

void CScriptChecker::Round(IWebGuardView& view) {
  if (m_ports.wake) m_ports.wake->Arm();
  bool arrived = false;
  {
    CWatchListGuard guard(m_ports.lock);
    arrived = !m_ports.pending.empty();
  }
  if (arrived || !m_waiting.empty()) CheckPendingBatch(view);
  const int64_t nextDue = NextDueInMs();
  if (arrived || !m_ports.wake) {
    m_ports.sleeper.Sleep(kCheckerPauseMs);
  } else if (nextDue >= 0) {
    // Asleep until the next upload is due, or until a producer queues a file.
    m_ports.wake->Wait(static_cast<int>(std::min<int64_t>(std::max<int64_t>(nextDue, 1), kCheckerIdleWaitMs)));
  } else {
    m_ports.wake->Wait(kCheckerIdleWaitMs);
  }
}

void CScriptChecker::SetBackground(bool on) {
  if (on == m_bBackground || !m_ports.background) return;
  m_bBackground = on;
  m_ports.background(on);
}

void CScriptChecker::Restarted(IWebGuardView& view) {
  if (m_bRestartTold) return;
  m_bRestartTold = true;
  try {
    if (m_ports.log) {
      m_ports.log(WatchLogText({{"-", "-", kCheckerRestartedMessage,
                                 FormatLocalTime(m_ports.clock.Now(), kScannedTimeFormat)}}));
    }
    view.ShowMessage(kCheckerRestartedMessage);
  } catch (...) {
  }
}

void CScriptChecker::RunFileChecker(IWebGuardView& view) {
  while (!g_bStopped && !m_ports.Stopped()) {
    // A failure outside one file's check (memory, the list, the window) ends the round, not
    // the checker: it is told once, and the next round begins after a pause.
    try {
      Round(view);
    } catch (...) {
      Restarted(view);
      try {
        m_ports.sleeper.Sleep(kCheckerPauseMs);
      } catch (...) {
      }
    }
  }
  SetBackground(false);
  // Files still waiting go back to the list, for the checker that comes next.
  std::vector<CWaiting> rest = std::move(m_waiting);
  m_waiting.clear();
  m_waitingKeys.clear();
  if (!rest.empty()) GiveBack(std::move(rest));
}

std::string ScanCounterText(int total, int done) {
  char text[64];
  std::snprintf(text, sizeof text, "共:%d\r\n查:%d", total, done);
  return text;
}

void ScanWebFolder(const CWebGuardPorts& ports, IWebGuardView& view) {
  const std::string folder = view.FolderPath();
  if (folder.empty()) {
    view.ShowMessage(kNoScanFolderMessage);
    g_bScanning = 0;
    return;
  }
  view.SetStatus(kScanStartingStatus);
  // The listing and queueing give way to the server's work; this thread ends with the scan.
  if (ports.background) ports.background(true);
  std::vector<CWebFile> files;
  ListFilesRecursive(ports.files, CWebFile{folder, ports.files.WidePath(folder)}, &files);
  const int count = static_cast<int>(files.size());
  view.SetProgressRange(0, 100, 1);
  const int width = ScanStepWidth(count);
  int position = 0;
  for (int i = 0; i < count; ++i) {
    if (!g_bScanning || g_bStopped || ports.Stopped()) break;
    // No pause between files: the scan runs at background priority, so the server's own work
    // comes first. A full backlog is waited out: the scan loses no file.
    bool queued = files[i].strPath.empty();
    while (!queued && g_bScanning && !g_bStopped && !ports.Stopped()) {
      {
        CWatchListGuard guard(ports.lock);
        if (ports.pending.size() < kMaxPendingFiles) {
          ports.pending.push_back(MakeWatcherFile(files[i].strPath, kActionScanned,
                                                  FormatLocalTime(ports.clock.Now(), kScannedTimeFormat),
                                                  files[i].wstrPath));
          queued = true;
        }
      }
      ports.Wake();
      if (!queued) ports.sleeper.Sleep(kScanRoomWaitMs);
    }
    view.SetStatus(files[i].strPath);
    view.SetCounter(ScanCounterText(count, i));
    if (i % width == 0) view.SetProgressPosition(position++);
  }
  // A scan whose owner went away leaves the flag and the controls to whoever owns them now.
  if (ports.Stopped() || !view.WindowExists()) return;
  g_bScanning = 0;
  view.SetScanCaption(kScanCaption);
  view.SetStatus("");
  view.SetCounter("");
  view.SetProgressPosition(0);
}

namespace {

CWebFile Pattern(const CWebFile& folder) {
  CWebFile base = folder;
  if (!EndsWithBackslash(base.strPath)) base.strPath += '\\';
  if (!base.wstrPath.empty() && base.wstrPath.back() != u'\\') base.wstrPath += u'\\';
  return CWebFile{base.strPath + "*.*", base.wstrPath.empty() ? u"" : base.wstrPath + u"*.*"};
}

bool ListBelow(IWebFileSystem& files, const CWebFile& folder, std::vector<CWebFile>* list,
               const std::function<bool()>& stopped, std::unordered_set<std::string>* seen, int depth) {
  std::vector<CFolderEntry> entries;
  if (!files.Enumerate(Pattern(folder), &entries)) return false;
  const std::string base = EndsWithBackslash(folder.strPath) ? folder.strPath : folder.strPath + "\\";
  std::u16string wideBase = folder.wstrPath;
  if (!wideBase.empty() && wideBase.back() != u'\\') wideBase += u'\\';
  for (const CFolderEntry& entry : entries) {
    if (stopped && stopped()) return true;
    if (entry.strName == "." || entry.strName == "..") continue;
    // Without the system's name of the entry, the ANSI path is all there is.
    CWebFile path{base + entry.strName, wideBase.empty() || entry.wstrName.empty() ? u"" : wideBase + entry.wstrName};
    if (!entry.bDirectory) {
      list->push_back(std::move(path));
      continue;
    }
    if (depth >= kMaxFolderDepth) continue;
    const std::string identity = files.FolderIdentity(path);
    if (!identity.empty() && !seen->insert(identity).second) continue;  // listed already: a loop
    // Without an identity a link is not followed: it could lead back without end.
    if (identity.empty() && entry.bReparsePoint) continue;
    ListBelow(files, path, list, stopped, seen, depth + 1);
  }
  return true;
}

}  // namespace

bool ListFilesRecursive(IWebFileSystem& files, const CWebFile& folder, std::vector<CWebFile>* list,
                        const std::function<bool()>& stopped) {
  std::unordered_set<std::string> seen;
  const std::string identity = files.FolderIdentity(folder);
  if (!identity.empty()) seen.insert(identity);
  return ListBelow(files, folder, list, stopped, &seen, 0);
}

bool IsFolder(IWebFileSystem& files, const CWebFile& path) {
  std::vector<CFolderEntry> entries;
  return files.Enumerate(Pattern(path), &entries);
}
