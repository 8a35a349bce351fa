#pragma once
// Website protection while its window does not exist yet: a hidden window created by the main
// window at protection start, hosting the checker's start timer, the directory watcher, the
// folder scan and an in-memory result list. The website protection window takes its place
// later through the same IWebGuardView.
#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "webguard/dir_watcher_win32.h"
#include "webguard/script_checker.h"

// The result list and scan controls kept in memory; callable from any thread.
class CWebGuardResults : public IWebGuardView {
 public:
  struct CRow { std::string strId, strFile, strType, strTime; };

  explicit CWebGuardResults(HWND window) : m_hWnd(window) {}
  std::vector<CRow> Rows();
  void SetFolder(const std::string& folder);
  std::string Status();
  std::string Counter();
  int ProgressPosition();

  int RowCount() override;
  void InsertRow(int index, const std::string& id, const std::string& file,
                 const std::string& type, const std::string& time) override;
  bool AutoScroll() override { return true; }
  void ScrollToRow(int) override {}
  std::string FolderPath() override;
  void ShowMessage(const std::string& text) override;
  void SetStatus(const std::string& text) override;
  void SetCounter(const std::string& text) override;
  void SetProgressRange(int, int, int) override {}
  void SetProgressPosition(int position) override;
  void SetScanCaption(const std::string&) override {}
  bool WindowExists() override { return IsWindow(m_hWnd) != FALSE; }

 private:
  HWND m_hWnd;
  std::mutex m_lock;
  std::vector<CRow> m_rows;
  std::string m_strFolder, m_strStatus, m_strCounter;
  int m_nProgress = 0;
};

// Website protection for one protection run. Its interface is what the website protection
// window builds on: create and destroy with protection, upload protection on and off, the
// folder scan, and the result list.
class CWebGuardHost {
 public:
  CWebGuardHost() = default;
  ~CWebGuardHost() { Destroy(); }
  CWebGuardHost(const CWebGuardHost&) = delete;
  CWebGuardHost& operator=(const CWebGuardHost&) = delete;

  // At protection start: loads the signature library, creates the hidden window with its
  // 5-second checker timer and starts the watcher when watchfileon is "on".
  bool Create(HWND owner);
  // Sets the stop token of the checker and scan started by this host (they end at their next
  // look and leave the result list alone), clears the scan flag, stops the watcher, drops the
  // host's reference to the library (each worker holds its own until it ends) and destroys
  // the window.
  void Destroy();

  // Upload protection on the configured folder and type slots; false when not started.
  bool StartUploadProtection();
  void StopUploadProtection();
  bool UploadProtecting() const { return m_bUploadProtect; }
  // Starts a folder scan, or asks the running one to stop.
  void ToggleFolderScan();
  // Starts the checker thread unless this host already did (the 5-second timer calls it).
  void StartCheckerOnce();
  bool CheckerStarted() const { return m_bCheckerStarted; }

  HWND Window() const { return m_hWnd; }
  CWebGuardResults* Results() { return m_pResults.get(); }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  HWND m_hWnd = nullptr;
  bool m_bUploadProtect = false;
  bool m_bCheckerStarted = false;
  std::unique_ptr<CDirWatcher> m_pWatcher;
  std::shared_ptr<CWebGuardResults> m_pResults;
  std::shared_ptr<std::atomic<bool>> m_pStop;
};

// Posted by the scan thread: a message for the user (lParam owns a std::string).
constexpr UINT kWebGuardMessage = WM_APP + 1;

// The timer that starts the checker thread, and its period.
constexpr UINT_PTR kCheckerStartTimer = 3;
constexpr UINT kCheckerStartPeriodMs = 5000;
