#pragma once
// IIS FTP logs: one follower per FTPSVC* site folder of the configured folder (and the folder
// itself, when the logs lie there), looked at once a second on a thread of its own. A look is
// skipped while the guard's queue lacks room, so nothing is lost: the lines wait in the file.
#include <windows.h>

#include <memory>
#include <string>

#include "logonguard/guard_inbox.h"

class CFtpLogSource {
 public:
  CFtpLogSource(std::shared_ptr<CGuardInbox> inbox, std::string folder);
  ~CFtpLogSource() { Stop(); }
  CFtpLogSource(const CFtpLogSource&) = delete;
  CFtpLogSource& operator=(const CFtpLogSource&) = delete;

  bool Start();
  void Stop();  // asks the thread to end and waits a few seconds for it

  struct CShared;

 private:
  std::shared_ptr<CShared> m_shared;
  HANDLE m_hThread = nullptr;
};
