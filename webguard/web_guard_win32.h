#pragma once
// Website protection for one website protection window: the directory watcher, the checker
// thread, the folder scan and the result list they fill. The window owns it from its
// initialisation to its destruction; the workers it starts keep the result list and their
// own ports alive and end on its stop token, so a window that goes never has a worker touch
// it again.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "webguard/dir_watcher_win32.h"
#include "webguard/guard_results.h"

// Posted to the window: the results changed (no payload); a message for the administrator
// (lParam owns a std::string, see ui/window_post_win32.h).
constexpr UINT kGuardChangedMessage = WM_APP + 1;
constexpr UINT kGuardTextMessage = WM_APP + 2;

// The calling thread into background mode (lower processor and I/O priority) or back; the
// folder scan and the checks of scanned files run so.
void SetBackgroundMode(bool on);

class CWebGuard {
 public:
  CWebGuard() = default;
  ~CWebGuard() { Destroy(); }
  CWebGuard(const CWebGuard&) = delete;
  CWebGuard& operator=(const CWebGuard&) = delete;

  // Loads the signature library and makes the watcher and the result list, which reaches
  // `window` through posts.
  bool Create(HWND window);
  // Sets the stop token of the checker and scan started here (they end at their next look and
  // leave the result list alone), calls off the scan and clears the scan flag, stops the
  // watcher, drops this side's reference to the library (each worker holds its own until it
  // ends).
  void Destroy();

  // Upload protection on the configured folder and type slots; false when not started.
  bool StartUploadProtection();
  void StopUploadProtection();
  bool UploadProtecting() const { return m_bUploadProtect; }
  // Upload protection is on and the watcher is watching its folder now.
  bool Watching() const;
  // Starts a folder scan of `folder`, or calls the running one off.
  void ToggleFolderScan(const std::string& folder);
  // Starts the checker thread unless it was started already.
  void StartCheckerOnce();
  bool CheckerStarted() const { return m_bCheckerStarted; }

  CGuardResults* Results() { return m_pResults.get(); }

 private:
  // A watcher that tells the window; stopping one whose thread does not end leaves it to
  // that thread and takes a new one.
  void NewWatcher();
  void StopWatcher();

  HWND m_hWnd = nullptr;
  bool m_bCreated = false;
  bool m_bUploadProtect = false;
  bool m_bCheckerStarted = false;
  std::unique_ptr<CDirWatcher> m_pWatcher;
  std::shared_ptr<CGuardResults> m_pResults;
  std::shared_ptr<std::atomic<bool>> m_pStop;
  CGuardResults::CScanToken m_pScan;  // the running scan's, if any
};
