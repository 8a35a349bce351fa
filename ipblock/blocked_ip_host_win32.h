#pragma once
// The blocked-IP window (dialog 134) as it stands before its list exists: created hidden at
// protection start, it keeps the ping rule in the driver and sends the automatic-block alert.
#include "ui/working_window_win32.h"

class CBlockedIpHost : public CWorkingWindow {
 public:
  explicit CBlockedIpHost(HWND owner);

 protected:
  BOOL OnInitDialog() override;
  void OnTimer(UINT_PTR id) override;
};
