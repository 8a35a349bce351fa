#include "webguard/script_checker.h"

#include <algorithm>
#include <cstdio>

#include "common/clock.h"
#include "config/daily_log.h"
#include "driver/driver_link.h"
#include "webguard/watch_types.h"

const char kSuspiciousType[] = "可疑";
const char kScanCaption[] = "开始扫描";
const char kNoScanFolderMessage[] = "请选择防护网站路径后再扫描!";
const char kScanStartingStatus[] = "开始扫描文件请等待...";
const char kLibraryMissingMessage[] = "特征库scriptviruslib.dll无法使用,网站文件未能检查!";

namespace {

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
  // Every byte of the file in both views, each through a scan of its own; the whole file is
  // read for its digest.
  CSignatureScan& bytes = m_bytesScan;
  CSignatureScan& converted = m_convertedScan;
  bytes.Restart();
  converted.Restart();
  bool found = false;
  const bool read = ReadScriptText(m_ports.files, file, [&](const CScriptViews& views) {
    AddToDigest(digest, views.bytes);
    if (!found) {
      found = bytes.Feed(views.bytes.data(), views.bytes.size()) ||
              converted.Feed(views.converted.data(), views.converted.size());
    }
    return true;
  });
  if (!read) return CheckOutcome::kUnreadable;
  if (!found) found = bytes.Finish() || converted.Finish();
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
      break;
  }
  return m_signatures.Matches(" ");
}

void CScriptChecker::TakeOver() {
  const int64_t now = m_ports.sleeper.NowMs();
  CWatchListGuard guard(m_ports.lock);
  for (auto& file : m_ports.pending) {
    // A file already waiting keeps its first due time: rewriting it does not put its check off.
    if (!m_waitingKeys.insert(WaitingKey(*file)).second) continue;
    CWaiting waiting;
    waiting.nDueMs = file->strAction == kActionAdded ? now + kUploadSettleMs : now;
    waiting.file = std::move(file);
    m_waiting.push_back(std::move(waiting));
  }
  m_ports.pending.clear();
  m_ports.pending.shrink_to_fit();
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
  const char* type = outcome == CheckOutcome::kSuspicious ? kSuspiciousType : kUnreadableType;
  if (outcome == CheckOutcome::kUnreadable) {
    digest = 0;
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
    if (m_ports.log) {
      m_ports.log(WatchLogText({{"-", file.strFile, kUnreadableType,
                                 FormatLocalTime(m_ports.clock.Now(), kScannedTimeFormat)}}));
    }
  }
  // The same content of a file listed already adds no row and no alert.
  if (view.HasRow(file.strFile, type, digest)) return;
  const int rows = view.RowCount();
  view.InsertCheckedRow(rows, std::to_string(rows), file.strFile, type, file.strTime, digest);
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

void CScriptChecker::RunFileChecker(IWebGuardView& view) {
  while (!g_bStopped && !m_ports.Stopped()) {
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
  std::vector<CWebFile> files;
  ListFilesRecursive(ports.files, CWebFile{folder, ports.files.WidePath(folder)}, &files);
  const int count = static_cast<int>(files.size());
  view.SetProgressRange(0, 100, 1);
  const int width = ScanStepWidth(count);
  int position = 0;
  for (int i = 0; i < count; ++i) {
    if (!g_bScanning || g_bStopped || ports.Stopped()) break;
    {
      CWatchListGuard guard(ports.lock);
      if (!files[i].strPath.empty()) {
        ports.pending.push_back(MakeWatcherFile(files[i].strPath, kActionScanned,
                                                FormatLocalTime(ports.clock.Now(), kScannedTimeFormat),
                                                files[i].wstrPath));
      }
    }
    ports.Wake();
    ports.sleeper.Sleep(kScanPauseMs);
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
