#include "webguard/script_checker.h"

#include <cstdio>

#include "common/clock.h"
#include "driver/driver_link.h"
#include "webguard/watch_types.h"

const char kSuspiciousType[] = "可疑";
const char kScanCaption[] = "开始扫描";
const char kNoScanFolderMessage[] = "请选择防护网站路径后再扫描!";
const char kScanStartingStatus[] = "开始扫描文件请等待...";

bool CScriptChecker::IsScriptSuspicious(const std::string& path) {
  const std::string content = ReadScriptText(m_ports.files, path);
  if (content.empty() || !m_ports.library.Loaded()) return false;
  m_entries.assign(kSignatureSlots, nullptr);
  int count = 0;
  if (!m_ports.library.FetchSignatures(m_entries.data(), &count)) return false;
  m_signatures.Update(m_entries.data(), count);
  return m_signatures.Matches(content);
}

void CScriptChecker::CheckPendingBatch(IWebGuardView& view) {
  CWatchListGuard guard(m_ports.lock);
  for (const auto& file : m_ports.pending) {
    // One bad file must not stop the others, nor leave the list locked.
    try {
      const int rows = view.RowCount();
      if (file->strAction == kActionAdded) m_ports.sleeper.Sleep(kUploadSettleMs);
      if (!IsScriptSuspicious(file->strFile)) continue;
      view.InsertRow(rows, std::to_string(rows), file->strFile, kSuspiciousType, file->strTime);
      const int total = view.RowCount();
      if (view.AutoScroll() && total > 0) view.ScrollToRow(total - 1);
    } catch (...) {
    }
  }
  m_ports.pending.clear();
  m_ports.pending.shrink_to_fit();
}

void CScriptChecker::RunFileChecker(IWebGuardView& view) {
  while (!g_bStopped) {
    bool waiting = false;
    {
      CWatchListGuard guard(m_ports.lock);
      waiting = !m_ports.pending.empty();
    }
    if (waiting) CheckPendingBatch(view);
    m_ports.sleeper.Sleep(kCheckerPauseMs);
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
  std::vector<std::string> files;
  ListFilesRecursive(ports.files, folder, &files);
  const int count = static_cast<int>(files.size());
  view.SetProgressRange(0, 100, 1);
  const int width = ScanStepWidth(count);
  int position = 0;
  for (int i = 0; i < count; ++i) {
    if (!g_bScanning || g_bStopped) break;
    {
      CWatchListGuard guard(ports.lock);
      if (!files[i].empty()) {
        ports.pending.push_back(MakeWatcherFile(
            files[i], kActionScanned, FormatLocalTime(ports.clock.Now(), kScannedTimeFormat)));
      }
    }
    ports.sleeper.Sleep(kScanPauseMs);
    view.SetStatus(files[i]);
    view.SetCounter(ScanCounterText(count, i));
    if (i % width == 0) view.SetProgressPosition(position++);
  }
  if (!view.WindowExists()) return;
  g_bScanning = 0;
  view.SetScanCaption(kScanCaption);
  view.SetStatus("");
  view.SetCounter("");
  view.SetProgressPosition(0);
}

void ListFilesRecursive(IWebFileSystem& files, const std::string& folder,
                        std::vector<std::string>* list) {
  std::string base = folder;
  if (!EndsWithBackslash(base)) base += '\\';
  std::vector<CFolderEntry> entries;
  if (!files.Enumerate(base + "*.*", &entries)) return;
  for (const CFolderEntry& entry : entries) {
    if (entry.strName == "." || entry.strName == "..") continue;
    if (entry.bDirectory) {
      ListFilesRecursive(files, base + entry.strName, list);
    } else {
      list->push_back(base + entry.strName);
    }
  }
}
