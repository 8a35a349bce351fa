#include "logonguard/ftp_log_source_win32.h"

#include <algorithm>
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
// Beyond the caps: the window says what is not watched.
std::string TooManySites() {
  const std::string count = std::to_string(kMaxSites);
  return "正在监视前" + count + "个FTP站点的日志(站点多于" + count + "个)";
}
std::string TooManyFiles(const std::string& site) {
  return "正在监视FTP日志," + site + "的日志文件多于" + std::to_string(CLogFollower::kMaxListedFiles) +
         "个,较新的可能未看到";
}

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
  explicit CFtpWatch(CFtpLogSource::CShared& shared)
      : m_shared(shared), m_siteWatch(shared.strFolder, FILE_NOTIFY_CHANGE_DIR_NAME) {}

  void Look() {
    CGuardInbox& inbox = *m_shared.inbox;
    const std::string& folder = m_shared.strFolder;
    if (!IsFolder(folder)) {
      for (const auto& follower : m_followers) m_files.Unwatch(follower.first);
      m_followers.clear();
      m_sites.clear();
      m_siteWatch.Close();
      inbox.Report(EGuardSource::kFtp, false, kNoFolder + folder);
      return;
    }
    ListSites();
    bool watching = false;
    std::string unreadable, crowded;
    for (const std::string& site : m_sites) {
      if (inbox.Room() < kRoomForLook) return;  // the guard catches up first; the state stands
      auto& follower = m_followers[site];
      if (!follower) follower.reset(new CLogFollower(m_files, site, kBytesPerLook, Utf8ToAnsi));
      const EFollowState state = follower->Poll([&](const CLogonEvent& event) { inbox.Push(event); });
      if (state == EFollowState::kWatching) watching = true;
      else if (state == EFollowState::kFolderUnavailable || state == EFollowState::kFileUnreadable) unreadable = site;
      if (follower->FilesBeyondCap()) crowded = site;
    }
    if (!watching && !unreadable.empty()) inbox.Report(EGuardSource::kFtp, false, kUnreadable + unreadable);
    else if (m_bTooManySites) inbox.Report(EGuardSource::kFtp, true, TooManySites());
    else if (!crowded.empty()) inbox.Report(EGuardSource::kFtp, true, TooManyFiles(LastName(crowded)));
    else if (watching) inbox.Report(EGuardSource::kFtp, true, kWatching);
    else inbox.Report(EGuardSource::kFtp, true, kNoLogYet);
  }

 private:
  static std::string LastName(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
  }

  // The site folders are listed again only when a folder was made, removed or renamed in the
  // configured one (or now and then where that cannot be watched).
  void ListSites() {
    const EFolderChange change = m_siteWatch.Poll();
    if (change == EFolderChange::kUnknown) ++m_nBlindLooks;
    if (!m_sites.empty() && change == EFolderChange::kNone) return;
    if (change == EFolderChange::kUnknown && !m_sites.empty() && m_nBlindLooks < CLogFollower::kBlindLooksPerListing)
      return;
    m_nBlindLooks = 0;
    m_sites = FtpSiteFolders(m_shared.strFolder, kMaxSites + 1);
    m_bTooManySites = m_sites.size() > kMaxSites;
    if (m_bTooManySites) m_sites.resize(kMaxSites);
    m_sites.push_back(m_shared.strFolder);  // logs written straight into the folder
    for (auto it = m_followers.begin(); it != m_followers.end();) {
      const bool listed = std::find(m_sites.begin(), m_sites.end(), it->first) != m_sites.end();
      if (!listed) m_files.Unwatch(it->first);
      it = listed ? std::next(it) : m_followers.erase(it);
    }
  }

  CFtpLogSource::CShared& m_shared;
  CWin32LogFilePort m_files;
  CFolderWatch m_siteWatch;
  std::vector<std::string> m_sites;
  bool m_bTooManySites = false;
  int m_nBlindLooks = 0;
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
