#include "webguard/script_checker.h"

#include <cstdio>

#include "common/clock.h"
#include "driver/driver_link.h"
#include "webguard/watch_types.h"

const char kSuspiciousType[] = "可疑";
const char kScanCaption[] = "开始扫描";
const char kNoScanFolderMessage[] = "请选择防护网站路径后再扫描!";
const char kScanStartingStatus[] = "开始扫描文件请等待...";
const char kLibraryMissingMessage[] = "特征库scriptviruslib.dll无法使用,网站文件未能检查!";

bool CScriptChecker::IsScriptSuspicious(const CWebFile& file) {
  if (!m_ports.library.Loaded()) {
    m_bLibraryFailed = true;
    return false;
  }
  m_entries.assign(kSignatureSlots, nullptr);
  int count = 0;
  if (!m_ports.library.FetchSignatures(m_entries.data(), &count)) {
    m_bLibraryFailed = true;
    return false;
  }
  m_signatures.Update(m_entries.data(), count);
  // Every byte of the file, streamed through the matcher; reading ends at the first match.
  CSignatureScan scan = m_signatures.NewScan();
  const bool opened = ReadScriptText(m_ports.files, file, [&](const std::string& text) {
    return !scan.Feed(text.data(), text.size());
  });
  // A file that cannot be opened counts as a single blank.
  if (!opened) return m_signatures.Matches(" ");
  return scan.Finish();
}

void CScriptChecker::CheckPendingBatch(IWebGuardView& view) {
  {
    CWatchListGuard guard(m_ports.lock);
    size_t done = 0;
    for (; done < m_ports.pending.size(); ++done) {
      const auto& file = m_ports.pending[done];
      // One bad file must not stop the others, nor leave the list locked.
      try {
        const int rows = view.RowCount();
        if (file->strAction == kActionAdded) m_ports.sleeper.Sleep(kUploadSettleMs);
        if (m_ports.Stopped()) break;
        if (!IsScriptSuspicious(CWebFile{file->strFile, file->wstrFile})) continue;
        if (m_ports.Stopped()) break;  // the row belongs to whoever checks the file next
        view.InsertRow(rows, std::to_string(rows), file->strFile, kSuspiciousType, file->strTime);
        const int total = view.RowCount();
        if (view.AutoScroll() && total > 0) view.ScrollToRow(total - 1);
      } catch (...) {
      }
    }
    m_ports.pending.erase(m_ports.pending.begin(), m_ports.pending.begin() + static_cast<std::ptrdiff_t>(done));
    if (m_ports.pending.empty()) m_ports.pending.shrink_to_fit();
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
    bool waiting = false;
    {
      CWatchListGuard guard(m_ports.lock);
      waiting = !m_ports.pending.empty();
    }
    if (waiting) CheckPendingBatch(view);
    if (waiting || !m_ports.wake) {
      m_ports.sleeper.Sleep(kCheckerPauseMs);
    } else {
      m_ports.wake->Wait(kCheckerIdleWaitMs);
    }
  }
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

void ListFilesRecursive(IWebFileSystem& files, const CWebFile& folder, std::vector<CWebFile>* list) {
  CWebFile base = folder;
  if (!EndsWithBackslash(base.strPath)) base.strPath += '\\';
  if (!base.wstrPath.empty() && base.wstrPath.back() != u'\\') base.wstrPath += u'\\';
  std::vector<CFolderEntry> entries;
  if (!files.Enumerate(CWebFile{base.strPath + "*.*", base.wstrPath.empty() ? u"" : base.wstrPath + u"*.*"},
                       &entries)) {
    return;
  }
  for (const CFolderEntry& entry : entries) {
    if (entry.strName == "." || entry.strName == "..") continue;
    // Without the system's name of the entry, the ANSI path is all there is.
    CWebFile path{base.strPath + entry.strName,
                  base.wstrPath.empty() || entry.wstrName.empty() ? u"" : base.wstrPath + entry.wstrName};
    if (entry.bDirectory) {
      // A junction or link may lead out of the site, or back into it without end.
      if (entry.bReparsePoint) continue;
      ListFilesRecursive(files, path, list);
    } else {
      list->push_back(std::move(path));
    }
  }
}
