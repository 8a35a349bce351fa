#include "logonguard/ftp_log_source_win32.h"

#include <map>
#include <vector>

#include "logonguard/log_files_win32.h"
#include "logonguard/log_follower.h"
#include "logonguard/log_text_win32.h"

namespace {

constexpr DWORD kLookMs = 1000;
constexpr DWORD kStopWaitMs = 5000;
constexpr size_t kMaxSites = 64;
// One look reads at most this much of a site's log, so it yields fewer events than kRoomForLook
// (a failure line is far longer than 32 bytes).
constexpr uint64_t kBytesPerLook = 256 * 1024;
constexpr size_t kRoomForLook = kBytesPerLook / 32;

const char kWatching[] = "正在监视FTP日志";
const char kNoLogYet[] = "正在监视,FTP日志文件夹中还没有日志";
const char kNoFolder[] = "找不到FTP日志文件夹:";
const char kUnreadable[] = "FTP日志无法读取:";

}  // namespace

struct CFtpLogSource::CShared {
  std::shared_ptr<CGuardInbox> inbox;
  std::string strFolder;
  HANDLE hStop = nullptr;
  ~CShared() {
    if (hStop) CloseHandle(hStop);
  }
};

namespace {

class CFtpWatch {
 public:
  explicit CFtpWatch(CFtpLogSource::CShared& shared) : m_shared(shared) {}

  void Look() {
    CGuardInbox& inbox = *m_shared.inbox;
    const std::string& folder = m_shared.strFolder;
    if (!IsFolder(folder)) {
      m_followers.clear();
      inbox.Report(EGuardSource::kFtp, false, kNoFolder + folder);
      return;
    }
    std::vector<std::string> sites = FtpSiteFolders(folder, kMaxSites);
    sites.push_back(folder);  // logs written straight into the folder
    for (auto it = m_followers.begin(); it != m_followers.end();) {
      bool listed = false;
      for (const std::string& site : sites) listed = listed || site == it->first;
      it = listed ? std::next(it) : m_followers.erase(it);
    }
    bool watching = false;
    std::string unreadable;
    for (const std::string& site : sites) {
      if (inbox.Room() < kRoomForLook) return;  // the guard catches up first; the state stands
      auto& follower = m_followers[site];
      if (!follower) follower.reset(new CLogFollower(m_files, site, kBytesPerLook, Utf8ToAnsi));
      const EFollowState state = follower->Poll([&](const CLogonEvent& event) { inbox.Push(event); });
      if (state == EFollowState::kWatching) watching = true;
      else if (state == EFollowState::kFolderUnavailable || state == EFollowState::kFileUnreadable) unreadable = site;
    }
    if (watching) inbox.Report(EGuardSource::kFtp, true, kWatching);
    else if (!unreadable.empty()) inbox.Report(EGuardSource::kFtp, false, kUnreadable + unreadable);
    else inbox.Report(EGuardSource::kFtp, true, kNoLogYet);
  }

 private:
  CFtpLogSource::CShared& m_shared;
  CWin32LogFilePort m_files;
  std::map<std::string, std::unique_ptr<CLogFollower>> m_followers;
};

DWORD WINAPI FtpThread(LPVOID parameter) {
  std::unique_ptr<std::shared_ptr<CFtpLogSource::CShared>> owned(
      static_cast<std::shared_ptr<CFtpLogSource::CShared>*>(parameter));
  CFtpLogSource::CShared& shared = **owned;
  try {
    CFtpWatch watch(shared);
    do {
      watch.Look();
    } while (WaitForSingleObject(shared.hStop, kLookMs) == WAIT_TIMEOUT);
  } catch (...) {
    shared.inbox->Report(EGuardSource::kFtp, false, kUnreadable + shared.strFolder);
  }
  return 0;
}

}  // namespace

CFtpLogSource::CFtpLogSource(std::shared_ptr<CGuardInbox> inbox, std::string folder)
    : m_shared(std::make_shared<CShared>()) {
  m_shared->inbox = std::move(inbox);
  m_shared->strFolder = std::move(folder);
}

bool CFtpLogSource::Start() {
  if (m_shared->hStop) return m_hThread != nullptr;  // one start per source
  m_shared->hStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!m_shared->hStop) return false;
  auto* handOver = new std::shared_ptr<CShared>(m_shared);
  m_hThread = CreateThread(nullptr, 0, FtpThread, handOver, 0, nullptr);
  if (!m_hThread) {
    delete handOver;
    return false;
  }
  return true;
}

void CFtpLogSource::Stop() {
  if (!m_hThread) return;
  SetEvent(m_shared->hStop);
  // A thread still inside a slow look (a network folder) ends by itself later; it holds its
  // own reference to what it uses.
  WaitForSingleObject(m_hThread, kStopWaitMs);
  CloseHandle(m_hThread);
  m_hThread = nullptr;
}
