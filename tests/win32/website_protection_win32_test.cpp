// The website protection window in the real program: switching upload protection on and off
// with its checks, an uploaded shell listed and alerted through the stand-in vendor service,
// a whole-site scan, the log dump, and the system's group member list.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "common/resource.h"
#include "common/version.h"
#include "common/local_users_win32.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "scratch_dir_win32.h"
#include "standin_driver_win32.h"
#include "tavrick_session_win32.h"
#include "vendor_standin_win32.h"
#include "webguard/watchfile_dlg_win32.h"

namespace {

const char kWindowCaption[] = "网站保护配置";
const char kPhpShell[] = "<?php eval($_POST['x']); ?>\r\n";
const char kAspShell[] = "<%execute request(\"c\")%>\r\n";

bool Within(DWORD timeoutMs, const std::function<bool()>& done, DWORD pollMs = 200) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(pollMs);
  }
  return true;
}

void WriteText(const std::string& path, const std::string& text) {
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << path;
  DWORD written = 0;
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(h);
}

std::string Config(const char* section, const char* key) {
  CWin32ProfileStore store;
  return ReadIni(store, kConfigFile, section, key);
}

void SetConfig(const char* section, const char* key, const std::string& value) {
  CWin32ProfileStore store;
  WriteIni(store, kConfigFile, section, key, value);
}

// The text of a control of another process's dialog.
std::string ItemText(HWND dialog, int id) {
  char text[1024] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

void Press(HWND dialog, int id) { PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

// The cells of every row of another process's report list view (through its own memory).
std::vector<std::vector<std::string>> ListRows(HWND list, int columns) {
  std::vector<std::vector<std::string>> rows;
  DWORD pid = 0;
  GetWindowThreadProcessId(list, &pid);
  const HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return rows;
  constexpr SIZE_T kTextBytes = 1024;
  char* remote = static_cast<char*>(VirtualAllocEx(process, nullptr, sizeof(LVITEMA) + kTextBytes, MEM_COMMIT, PAGE_READWRITE));
  const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count && remote; ++row) {
    std::vector<std::string> cells;
    for (int column = 0; column < columns; ++column) {
      LVITEMA item = {};
      item.iSubItem = column;
      item.pszText = remote + sizeof(LVITEMA);
      item.cchTextMax = static_cast<int>(kTextBytes);
      WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
      SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(remote));
      char text[kTextBytes] = {};
      ReadProcessMemory(process, remote + sizeof(LVITEMA), text, kTextBytes - 1, nullptr);
      cells.push_back(text);
    }
    rows.push_back(cells);
  }
  if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  return rows;
}

// A JSON string's body as the stand-in writes it (backslashes doubled).
std::string JsonText(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

BOOL CALLBACK MatchChildText(HWND child, LPARAM request) {
  auto* wanted = reinterpret_cast<std::pair<const std::string*, bool>*>(request);
  char text[256] = {};
  GetWindowTextA(child, text, sizeof text);
  if (*wanted->first == text) wanted->second = true;
  return TRUE;
}

bool HasChildText(HWND window, const std::string& text) {
  std::pair<const std::string*, bool> request(&text, false);
  EnumChildWindows(window, MatchChildText, reinterpret_cast<LPARAM>(&request));
  return request.second;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class WebsiteProtectionWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(EnsureDriverLoaded());
    ASSERT_FALSE(StandInBase().empty()) << "the stand-in vendor service is not running";
    SetEnvironmentVariableA("TAVRICK_SERVICE_HOST", StandInHost().c_str());
    site = dir.File("site");
    ASSERT_TRUE(CreateDirectoryA(site.c_str(), nullptr));
    SetConfig("sysice", "onlinetime", "1");  // protection starts by itself
    SetConfig("ipwatchfile", "watchfilepath", site);
  }
  // Starts the program with protection on and shows the website protection window.
  void StartAndShow() {
    ASSERT_TRUE(app.Start(dir.Path()));
    ASSERT_TRUE(app.WaitLabel(IDC_STATE, "启动", 30000)) << app.Label(IDC_STATE);
    window = WaitForWindow(app.Process().Pid(), "#32770", kWindowCaption, 10000);
    ASSERT_NE(nullptr, window);
    EXPECT_FALSE(IsWindowVisible(window));  // created hidden
    app.Click(IDC_WEBSITE);
    ASSERT_TRUE(Within(5000, [&] { return IsWindowVisible(window) != FALSE; }));
    list = GetDlgItem(window, IDC_WF_LIST);
  }
  std::vector<std::vector<std::string>> Rows() { return ListRows(list, 4); }
  bool Enabled(int id) { return IsWindowEnabled(GetDlgItem(window, id)) != FALSE; }
  void Check(int id, bool on) { SendMessageA(GetDlgItem(window, id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }

  CScratchDir dir;
  std::string site;
  CTavrickSession app;
  HWND window = nullptr;
  HWND list = nullptr;
};

TEST_F(WebsiteProtectionWindow, StartedOnAnUploadIsListedAndAlertedOnceAndTheSwitchChecksItsFields) {
  const std::string mail = "web-" + std::to_string(GetTickCount()) + "@example.com";
  SetConfig("ipwatchfile", "watchfileon", "on");
  SetConfig("ipwatchfile", "watchfileext", ",,,php,");
  SetConfig("msg", "wormchk", "1");
  SetConfig("msg", "emil", mail);
  StartAndShow();
  // On from the start: the watcher runs without a click and the fields are locked.
  EXPECT_EQ("停止防护", ItemText(window, IDC_WF_PROTECT));
  EXPECT_EQ(site, ItemText(window, IDC_WF_PATH));
  EXPECT_EQ(BST_CHECKED, SendMessageA(GetDlgItem(window, IDC_WF_PHP), BM_GETCHECK, 0, 0));
  EXPECT_EQ(BST_UNCHECKED, SendMessageA(GetDlgItem(window, IDC_WF_ASP), BM_GETCHECK, 0, 0));
  for (int id : {IDC_WF_ASP, IDC_WF_PHP, IDC_WF_BROWSE, IDC_WF_LOG_LIMIT, IDC_WF_PATH}) EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_EQ("28", ItemText(window, IDC_WF_LOG_LIMIT));

  // An upload whose name holds "&" and "#": listed after its settle wait, alerted once, intact.
  Sleep(1000);
  const std::string shell = site + "\\a&b#c.php";
  WriteText(shell, kPhpShell);
  WriteText(site + "\\readme.txt", kPhpShell);  // not a watched type
  ASSERT_TRUE(Within(60000, [&] { return !Rows().empty(); }, 500));
  auto rows = Rows();
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ((std::vector<std::string>{"0", shell, "可疑"}), std::vector<std::string>(rows[0].begin(), rows[0].begin() + 3));
  EXPECT_EQ(14u, rows[0][3].size());  // "%m.%d %H:%M:%S"
  PostMessageA(window, WM_TIMER, kUploadAlertTimer, 0);  // no need to wait for the 30 s
  const std::string expected = "Tavrick提醒您!\", \"message\": \"" + JsonText("web目录有文件_" + shell + "|可疑文件增加") + "\"";
  std::string outbox;
  EXPECT_TRUE(Within(30000, [&] {
    outbox = StandInAdmin("/tavrick/admin/outbox.json?charset=gbk").body;
    return outbox.find(mail) != std::string::npos;
  }, 500));
  PostMessageA(window, WM_TIMER, kUploadAlertTimer, 0);
  Sleep(3000);
  outbox = StandInAdmin("/tavrick/admin/outbox.json?charset=gbk").body;
  EXPECT_EQ(1u, Count(outbox, mail)) << outbox.substr(0, 600);
  EXPECT_EQ(1u, Count(outbox, expected)) << outbox.substr(0, 600);
  Press(window, IDC_WF_CLEAR);
  EXPECT_TRUE(Within(5000, [&] { return Rows().empty(); }));

  // Off: saved, fields open again.
  Press(window, IDC_WF_PROTECT);
  ASSERT_TRUE(Within(5000, [&] { return ItemText(window, IDC_WF_PROTECT) == "启动防护"; }));
  EXPECT_EQ("off", Config("ipwatchfile", "watchfileon"));
  for (int id : {IDC_WF_ASP, IDC_WF_PHP, IDC_WF_BROWSE, IDC_WF_LOG_LIMIT}) EXPECT_TRUE(Enabled(id)) << id;
  EXPECT_FALSE(Enabled(IDC_WF_PATH));

  // The folder picker asks with its prompt; cancelled, it changes nothing.
  Press(window, IDC_WF_BROWSE);
  HWND picker = nullptr;
  ASSERT_TRUE(Within(10000, [&] {
    for (HWND w : WindowsOf(app.Process().Pid(), "#32770", ""))
      if (GetWindow(w, GW_OWNER) == window && IsWindowVisible(w)) picker = w;
    return picker != nullptr;
  }));
  EXPECT_TRUE(HasChildText(picker, "请选择文件夹:"));
  PostMessageA(picker, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(Within(5000, [&] { return !IsWindow(picker); }));
  EXPECT_EQ(site, ItemText(window, IDC_WF_PATH));

  // On again: no type, then a log limit with a letter, then an empty one are refused.
  Check(IDC_WF_PHP, false);
  Press(window, IDC_WF_PROTECT);
  EXPECT_EQ("请选择web保护的文件类型!", app.Answer(kAppName, IDOK));
  Check(IDC_WF_PHP, true);
  Check(IDC_WF_ASP, true);
  for (const char* limit : {"2a", ""}) {
    SetDlgItemTextA(window, IDC_WF_LOG_LIMIT, limit);
    Press(window, IDC_WF_PROTECT);
    EXPECT_EQ("保存日志条数必须输入数字!", app.Answer(kAppName, IDOK)) << limit;
  }
  EXPECT_EQ("启动防护", ItemText(window, IDC_WF_PROTECT));
  EXPECT_EQ("off", Config("ipwatchfile", "watchfileon"));
  SetDlgItemTextA(window, IDC_WF_LOG_LIMIT, "5");
  Press(window, IDC_WF_PROTECT);
  ASSERT_TRUE(Within(5000, [&] { return ItemText(window, IDC_WF_PROTECT) == "停止防护"; }));
  EXPECT_EQ("on", Config("ipwatchfile", "watchfileon"));
  EXPECT_EQ("asp,,,php,", Config("ipwatchfile", "watchfileext"));
  EXPECT_EQ("5", Config("ipwatchfile", "watchfilelogcount"));
  EXPECT_FALSE(Enabled(IDC_WF_ASP));
}

TEST(WebsiteProtectionUsers, TheSystemListsTheAdministratorsGroup) {
  CWin32LocalUsers users;
  std::vector<_userstruct> admins, everyone;
  ASSERT_TRUE(GetGroupUsers(users, "Administrators", &admins));
  ASSERT_TRUE(GetGroupUsers(users, "", &everyone));
  ASSERT_FALSE(admins.empty());  // under Wine: the one account the prefix runs as
  EXPECT_GE(everyone.size(), admins.size());
  EXPECT_NE(std::string::npos, (admins[0].strGroups + " ").find(" Administrators "));
  std::vector<_userstruct> none;
  ASSERT_TRUE(GetGroupUsers(users, "administrators", &none));  // exact letter case only
  EXPECT_TRUE(none.empty());
}

// A whole-site scan in the program: the scan runs at its pace (60 ms a file) while the window
// answers at once and shows its progress; the list ends with exactly the planted shells, and
// the log dump takes them, alerting first the rows the 30-second alert has not seen yet. 297
// files make the bar's step 3 and take it to 98 in 18 s; the 5,000-file scan is in
// webguard_win32_test.cpp, with the same ports but without the pause.
TEST_F(WebsiteProtectionWindow, WholeSiteScanListsExactlyThePlantedShellsAndTheLogTakesThem) {
  constexpr int kFiles = 297, kFolders = 3;
  const std::string mail = "scan-" + std::to_string(GetTickCount()) + "@example.com";
  SetConfig("msg", "wormchk", "1");
  SetConfig("msg", "emil", mail);
  std::set<std::string> planted;
  for (int folder = 0; folder < kFolders; ++folder) {
    const std::string sub = site + "\\d" + std::to_string(folder);
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    for (int i = 0; i < kFiles / kFolders; ++i) {
      const int n = folder * (kFiles / kFolders) + i;
      static const char* const kTypes[] = {".php", ".html", ".asp", ".txt", ".js"};
      std::string path = sub + "\\f" + std::to_string(n) + kTypes[n % 5];
      if (n % 10 == 7) {  // 29 shells, of every type
        if (n == 7) path = sub + "\\x&y#z.asp";
        WriteText(path, n % 20 == 7 ? kPhpShell : kAspShell);
        planted.insert(path);
      } else {
        WriteText(path, "<?php echo 'hello " + std::to_string(n) + "'; ?>\r\n<p>page</p>\r\n");
      }
    }
  }
  ASSERT_EQ(29u, planted.size());
  StartAndShow();
  EXPECT_EQ("启动防护", ItemText(window, IDC_WF_PROTECT));
  const DWORD started = GetTickCount();
  Press(window, IDC_WF_SCAN);
  // A few hundred files may be scanned before a first look: then the rows are there instead.
  ASSERT_TRUE(Within(5000, [&] { return ItemText(window, IDC_WF_SCAN) == "停止扫描" || Rows().size() >= planted.size(); }, 5));

  // While it runs: answers within moments, counts, names the file and moves the bar. A few
  // hundred files are scanned in moments: only a look that finds the bar part-way both before
  // and after it read the face says what the running face shows (not the start, nor the end).
  DWORD slowest = 0;
  int progress = 0, looks = 0, midway = 0;
  bool counted = false, named = false;
  const HWND bar = GetDlgItem(window, IDC_WF_PROGRESS);
  const auto position = [&] { return static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)); };
  const auto partWay = [&] {
    const int at = position();
    return at > 0 && at < 100 && ItemText(window, IDC_WF_SCAN) == "停止扫描";
  };
  while (ItemText(window, IDC_WF_SCAN) == "停止扫描" && GetTickCount() - started < 120000) {
    ++looks;
    const DWORD before = GetTickCount();
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer));
    slowest = std::max(slowest, GetTickCount() - before);
    progress = std::max(progress, position());
    if (partWay()) {
      const bool counts = ItemText(window, IDC_WF_COUNTER).rfind("共:297\r\n查:", 0) == 0;
      const bool names = ItemText(window, IDC_WF_STATUS).rfind(site + "\\d", 0) == 0;
      if (partWay()) {
        ++midway;
        counted = counted || counts;
        named = named || names;
      }
    }
    Sleep(20);
  }
  const DWORD seconds = (GetTickCount() - started) / 1000;
  std::printf("scan of %d files: %lu s, slowest answer of the window %lu ms\n", kFiles,
              static_cast<unsigned long>(seconds), static_cast<unsigned long>(slowest));
  ASSERT_EQ("开始扫描", ItemText(window, IDC_WF_SCAN)) << "the scan did not end within the bound";
  // No pause between files any more: the scan of a few hundred files may end before the
  // window is looked at (the face's steps are counted natively); what was seen must be right.
  EXPECT_LT(seconds, 60u);
  EXPECT_LT(slowest, 1000u);
  if (midway > 0) {
    EXPECT_TRUE(counted);
    EXPECT_TRUE(named);
  }
  // The bar's own colour (the scan is too quick to catch a paint of it on the screen).
  EXPECT_EQ(RGB(108, 175, 0), static_cast<COLORREF>(SendMessageA(bar, PBM_GETBARCOLOR, 0, 0)));
  std::printf("looked at the running scan %d times (%d part-way), highest progress %d\n", looks, midway, progress);
  EXPECT_EQ("", ItemText(window, IDC_WF_COUNTER));
  EXPECT_EQ(0, SendMessageA(GetDlgItem(window, IDC_WF_PROGRESS), PBM_GETPOS, 0, 0));

  // The checker is at most a batch behind the scan.
  ASSERT_TRUE(Within(30000, [&] { return Rows().size() >= planted.size(); }, 500));
  Sleep(1000);
  const auto rows = Rows();
  std::set<std::string> listed;
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(std::to_string(i), rows[i][0]);
    EXPECT_EQ("可疑", rows[i][2]);
    listed.insert(rows[i][1]);
  }
  EXPECT_EQ(planted.size(), rows.size());
  EXPECT_EQ(planted, listed);

  // The log dump (600 s): 29 rows over the limit of 28 go to the day's log, the list empties.
  PostMessageA(window, WM_TIMER, kLogDumpTimer, 0);
  ASSERT_TRUE(Within(5000, [&] { return Rows().empty(); }));
  char day[32];
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::snprintf(day, sizeof day, "vr%04d_%02d_%02d.txt", now.wYear, now.wMonth, now.wDay);
  const std::string log = ReadWholeFile(dir.File("log\\") + day);
  EXPECT_EQ(29u, Count(log, " \r\n "));
  for (const std::string& path : planted) EXPECT_EQ(1u, Count(log, "  " + path + "  可疑  ")) << path;

  // Every shell was alerted once, by the 30-second alert or by the dump, none lost with the list.
  PostMessageA(window, WM_TIMER, kUploadAlertTimer, 0);
  std::string outbox;
  Within(30000, [&] {
    outbox = StandInAdmin("/tavrick/admin/outbox.json?charset=gbk").body;
    size_t alerted = 0;
    for (const std::string& path : planted) alerted += Count(outbox, JsonText(path + "|")) > 0;
    return alerted == planted.size();
  }, 500);
  for (const std::string& path : planted) EXPECT_EQ(1u, Count(outbox, JsonText(path + "|"))) << path;
  EXPECT_GE(Count(outbox, mail), 1u);
}

// An uploader who sends a thousand harmless scripts first, or hides the shell behind a zero
// byte or a byte-order mark, has the shell listed within 30 s of its upload all the same.
TEST_F(WebsiteProtectionWindow, ShellsAfterAThousandUploadsAreListedWithinThirtySeconds) {
  SetConfig("ipwatchfile", "watchfileon", "on");
  SetConfig("ipwatchfile", "watchfileext", ",,,php,");
  StartAndShow();
  ASSERT_EQ("停止防护", ItemText(window, IDC_WF_PROTECT));
  Sleep(1000);
  for (int i = 0; i < 1000; ++i) {
    WriteText(site + "\\cache" + std::to_string(i) + ".php", "<?php echo " + std::to_string(i) + "; ?>\r\n");
  }
  const std::string shells[] = {site + "\\nul.php", site + "\\mark.php", site + "\\x;.php"};
  const std::string body = "<?php @eval($_POST[\"acc\"]); ?>";
  // "nul.php" by its exact name (the plain name opens the NUL device): as an uploader or a
  // Unix side writes it.
  {
    const std::string exact = "\\\\?\\" + shells[0];
    const std::wstring wide(exact.begin(), exact.end());  // the scratch path is ASCII
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    const std::string content = std::string(1, '\0') + body;
    DWORD written = 0;
    WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(h);
  }
  WriteText(shells[1], "\xFF\xFE" + body);
  WriteText(shells[2], body);
  const DWORD uploaded = GetTickCount();
  ASSERT_TRUE(Within(30000, [&] { return Rows().size() >= 3; }, 500)) << Rows().size();
  std::printf("three shells after 1000 uploads listed %lu ms after their upload\n",
              static_cast<unsigned long>(GetTickCount() - uploaded));
  Sleep(2000);
  std::set<std::string> listed;
  for (const auto& row : Rows()) {
    EXPECT_EQ("可疑", row[2]);
    listed.insert(row[1]);
  }
  EXPECT_EQ(std::set<std::string>(std::begin(shells), std::end(shells)), listed);
}

}  // namespace
