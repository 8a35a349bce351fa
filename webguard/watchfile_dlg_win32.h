#pragma once
// The website protection window (template 141, "网站保护配置"): the protected folder, the
// monitored types and the log limit, upload protection on and off, the whole-folder scan and
// the list of suspicious files. Created hidden at each protection start; its four timers run
// whether it is shown or not: the upload alert, the log dump, the scan animation and the
// checker's start.
#include <array>
#include <cstdint>
#include <vector>

#include "ui/list_view_win32.h"
#include "ui/working_window_win32.h"
#include "webguard/web_guard_win32.h"

// Timer n of the window is kWatchfileTimerBase + n.
constexpr UINT_PTR kWatchfileTimerBase = 100;
constexpr UINT_PTR kUploadAlertTimer = kWatchfileTimerBase + 0;  // 30 s
constexpr UINT_PTR kLogDumpTimer = kWatchfileTimerBase + 1;      // 600 s
constexpr UINT_PTR kScanBlinkTimer = kWatchfileTimerBase + 2;    // 1 s
constexpr UINT_PTR kCheckerTimer = kWatchfileTimerBase + 3;      // 5 s

class CWatchfileDlg : public CWorkingWindow {
 public:
  explicit CWatchfileDlg(HWND owner);
  CWebGuard& Guard() { return m_guard; }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notifyCode) override;
  void OnTimer(UINT_PTR id) override;
  void OnDestroy() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void ToggleUploadProtection();
  void ToggleFolderScan();
  void PickFolder();
  void ClearResults(size_t rows, bool byAdministrator);
  void RefreshCaptions();
  void SetButtonFace(int id, const char* caption, int icon, int& shownIcon);
  void ShowResults();
  void EnableInputs(bool enable);
  void SaveSettings();
  void DumpLog();
  void UploadAlert(const std::vector<CGuardResults::CRow>& rows);
  void Blink();
  std::array<bool, 5> TypeBoxes() const;

  CWebGuard m_guard;
  CListView m_list;
  int32_t m_nAlertedRows = 0;  // upload-alert cursor
  int m_nBlink = 0;
  bool m_bBlinkWaited = false;
  bool m_bAutoScroll = true;
  int m_nProtectIcon = 0;  // icons the two owner-drawn switches show now
  int m_nScanIcon = 0;
};
