// The names the servers run as scripts and the folder settings that make other names run:
// which the watcher queues, and what in the settings is suspicious.
#include <gtest/gtest.h>

#include <array>
#include <map>

#include "common/clock.h"
#include "config/settings.h"
#include "webguard/bench/posix_web_files.h"
#include "webguard/guard_results.h"
#include "webguard/script_checker.h"
#include "webguard/server_config.h"
#include "webguard/watch_types.h"

namespace {

bool Watched(const std::string& path, const std::array<std::string, kWatchTypeCount>& types) {
  return MatchesWatchType(path, types.data(), kWatchTypeCount);
}

TEST(WebguardNames, AliasesTheServersRunCountAsTheirFamily) {
  const std::array<std::string, kWatchTypeCount> every = {"asp", "asa", "aspx", "php", "jsp"};
  for (const char* name : {"a.ashx", "a.ASMX", "a.cer", "a.cdx", "a.jspx", "a.phtml", "a.php3", "a.php4",
                           "a.php5", "a.php6", "a.PHP7", "a.phar", "a.cer;.jpg", "a.php5;x.txt"}) {
    EXPECT_TRUE(Watched(std::string("C:\\site\\up\\") + name, every)) << name;
  }
  // Only where the family is monitored, and names that merely look alike are not aliases.
  const std::array<std::string, kWatchTypeCount> onlyAsp = {"asp", "", "", "", ""};
  EXPECT_TRUE(Watched("C:\\site\\a.cer", onlyAsp));
  EXPECT_FALSE(Watched("C:\\site\\a.ashx", onlyAsp));
  EXPECT_FALSE(Watched("C:\\site\\a.phtml", onlyAsp));
  EXPECT_FALSE(Watched("C:\\site\\a.php8x", every));
  EXPECT_FALSE(Watched("C:\\site\\a.jpg", every));
  EXPECT_EQ("aspx", ScriptFamilyOf("AsHx"));
  EXPECT_EQ("", ScriptFamilyOf("html"));
}

TEST(WebguardNames, FolderSettingsAreAlwaysQueued) {
  const std::array<std::string, kWatchTypeCount> onlyJsp = {"", "", "", "", "jsp"};
  for (const char* name : {"C:\\site\\up\\.htaccess", "C:\\site\\.USER.INI", "C:\\site\\bin\\Web.Config",
                           "C:/site/.htaccess"}) {
    EXPECT_TRUE(Watched(name, onlyJsp)) << name;
  }
  EXPECT_FALSE(Watched("C:\\site\\web.config.bak", onlyJsp));
  EXPECT_FALSE(Watched("C:\\site\\my.htaccess", onlyJsp));
  EXPECT_EQ(ServerConfigKind::kHtaccess, ServerConfigKindOf("C:\\s\\.HTACCESS"));
  EXPECT_EQ(ServerConfigKind::kUserIni, ServerConfigKindOf("C:\\s\\.user.ini"));
  EXPECT_EQ(ServerConfigKind::kWebConfig, ServerConfigKindOf("C:\\s\\web.config"));
  EXPECT_EQ(ServerConfigKind::kNone, ServerConfigKindOf("C:\\s\\config.php"));
}

TEST(WebguardNames, SettingsThatMakeAnotherNameRunAreSuspicious) {
  using K = ServerConfigKind;
  const struct {
    K kind;
    const char* text;
  } planted[] = {
      {K::kHtaccess, "AddType application/x-httpd-php .jpg\n"},
      {K::kHtaccess, "  addhandler php5-script .php .gif\n"},
      {K::kHtaccess, "AddHandler cgi-script .txt"},
      {K::kHtaccess, "<FilesMatch \"\\.jpg$\">\nSetHandler application/x-httpd-php\n</FilesMatch>\n"},
      {K::kHtaccess, "<Files avatar.png>\r\n  ForceType application/x-httpd-php\r\n</Files>\r\n"},
      {K::kHtaccess, "SetHandler application/x-httpd-php\n"},
      {K::kHtaccess, "php_value auto_prepend_file /tmp/x.jpg\n"},
      {K::kHtaccess, "php_admin_value auto_append_file \"uploads/a.gif\"\n"},
      {K::kUserIni, "auto_prepend_file=a.jpg\n"},
      {K::kUserIni, "; cache\nauto_append_file = \"/www/up/1.png\"\n"},
      {K::kWebConfig,
       "<configuration><system.webServer><handlers>\n"
       "<add name=\"x\" path=\"*.jpg\" verb=\"*\" modules=\"IsapiModule\" "
       "scriptProcessor=\"%windir%\\Microsoft.NET\\Framework64\\v4.0.30319\\aspnet_isapi.dll\" />\n"
       "</handlers></system.webServer></configuration>"},
      {K::kWebConfig,
       "<handlers><add name=\"php\" path=\"*.txt\" verb=\"*\" modules=\"FastCgiModule\" "
       "scriptProcessor=\"C:\\php\\php-cgi.exe\" resourceType=\"Unspecified\" /></handlers>"},
      {K::kWebConfig, "<httpHandlers><add verb='*' path='*.png' type='System.Web.UI.PageHandlerFactory'/></httpHandlers>"},
      {K::kWebConfig,
       "<compilation><buildProviders><add extension=\".gif\" type=\"System.Web.Compilation.PageBuildProvider\" />"
       "</buildProviders></compilation>"},
  };
  for (const auto& p : planted) EXPECT_TRUE(ServerConfigRunsOtherNames(p.kind, p.text)) << p.text;
}

TEST(WebguardNames, OrdinarySettingsAreNot) {
  using K = ServerConfigKind;
  const struct {
    K kind;
    const char* text;
  } ordinary[] = {
      // WordPress's rewrite rules, caching and compression, denied folders.
      {K::kHtaccess,
       "# BEGIN WordPress\n<IfModule mod_rewrite.c>\nRewriteEngine On\nRewriteBase /\n"
       "RewriteRule ^index\\.php$ - [L]\nRewriteCond %{REQUEST_FILENAME} !-f\nRewriteRule . /index.php [L]\n"
       "</IfModule>\n# END WordPress\n"},
      {K::kHtaccess,
       "<IfModule mod_expires.c>\nExpiresActive On\nExpiresByType image/jpeg \"access plus 1 year\"\n</IfModule>\n"
       "<FilesMatch \"\\.(jpg|png|css|js)$\">\nHeader set Cache-Control \"max-age=31536000\"\n</FilesMatch>\n"
       "AddType image/svg+xml .svg\nAddType application/font-woff2 .woff2\nAddOutputFilterByType DEFLATE text/html\n"
       "Options -Indexes\nOrder deny,allow\nDeny from all\n"},
      // Handlers of the script names themselves, and PHP switched off in an upload folder.
      {K::kHtaccess, "AddHandler application/x-httpd-php74 .php .php5 .phtml\n"},
      {K::kHtaccess,
       "<FilesMatch \".(php4|php5|php3|php2|php|phtml)$\">\nSetHandler application/x-lsphp74\n</FilesMatch>\n"},
      {K::kHtaccess, "<Files \"index.php\">\nSetHandler application/x-httpd-php\n</Files>\n"},
      {K::kHtaccess, "php_flag engine off\nRemoveHandler .php .phtml\nSetHandler default-handler\n"},
      {K::kHtaccess, "php_value upload_max_filesize 64M\nphp_value auto_prepend_file none\n"},
      {K::kUserIni, "upload_max_filesize = 64M\nauto_prepend_file =\nmemory_limit=256M\n"},
      // A plain web.config: connection strings, settings, MIME maps, MVC's extensionless handler,
      // static files, request filtering, PHP over FastCGI for .php.
      {K::kWebConfig,
       "<?xml version=\"1.0\"?>\n<configuration>\n<connectionStrings>\n"
       "<add name=\"db\" connectionString=\"Data Source=.;Initial Catalog=shop;Integrated Security=True\" "
       "providerName=\"System.Data.SqlClient\" />\n</connectionStrings>\n<appSettings><add key=\"path\" "
       "value=\"*.jpg\" /></appSettings>\n<system.webServer>\n<staticContent><mimeMap fileExtension=\".woff2\" "
       "mimeType=\"font/woff2\" /></staticContent>\n<handlers>\n"
       "<remove name=\"ExtensionlessUrlHandler-Integrated-4.0\" />\n"
       "<add name=\"ExtensionlessUrlHandler-Integrated-4.0\" path=\"*.\" verb=\"*\" "
       "type=\"System.Web.Handlers.TransferRequestHandler\" preCondition=\"integratedMode,runtimeVersionv4.0\" />\n"
       "<add name=\"StaticFile\" path=\"*\" verb=\"*\" modules=\"StaticFileModule,DefaultDocumentModule\" "
       "resourceType=\"Either\" />\n"
       "<add name=\"PHP_via_FastCGI\" path=\"*.php\" verb=\"*\" modules=\"FastCgiModule\" "
       "scriptProcessor=\"C:\\PHP\\php-cgi.exe\" resourceType=\"Either\" />\n"
       "<add name=\"elmah\" path=\"elmah.axd\" verb=\"POST,GET\" type=\"Elmah.ErrorLogPageFactory, Elmah\" />\n"
       "</handlers>\n<security><requestFiltering><fileExtensions><add fileExtension=\".jpg\" allowed=\"true\" />"
       "</fileExtensions></requestFiltering></security>\n<rewrite><rules><rule name=\"r\"><match url=\"(.*)\" />"
       "<action type=\"Rewrite\" url=\"index.php\" /></rule></rules></rewrite>\n"
       "</system.webServer>\n</configuration>\n"},
  };
  for (const auto& o : ordinary) EXPECT_FALSE(ServerConfigRunsOtherNames(o.kind, o.text)) << o.text;
}

// Files in memory, read in small pieces.
class CMemoryFiles : public IWebFileSystem {
 public:
  std::map<std::string, std::string> files;
  bool ReadPieces(const CWebFile& file, const std::function<bool(const char*, size_t)>& sink) override {
    auto it = files.find(file.strPath);
    if (it == files.end()) return false;
    for (size_t at = 0; at < it->second.size(); at += 7) {
      if (!sink(it->second.data() + at, std::min<size_t>(7, it->second.size() - at))) break;
    }
    return true;
  }
  bool Enumerate(const CWebFile&, std::vector<CFolderEntry>*) override { return false; }
  std::u16string WidePath(const std::string& path) override { return std::u16string(path.begin(), path.end()); }
  void AppendGbk(const char16_t* units, size_t count, std::string* out) override {
    CPosixWebFiles().AppendGbk(units, count, out);
  }
};

class COneSignature : public IScriptLibrary {
 public:
  bool Loaded() override { return true; }
  bool FetchSignatures(const char** entries, int* count) override {
    entries[0] = "eval($_POST[";
    *count = 1;
    return true;
  }
};

class CNoSleep : public ISleeper {
 public:
  void Sleep(int) override {}
  int64_t NowMs() override { return 0; }
};

class CNoLock : public IWatchListLock {
 public:
  void Lock() override {}
  void Unlock() override {}
};

class CQuietWindow : public IGuardWindow {
 public:
  bool Changed() override { return true; }
  void Message(const std::string&) override {}
  bool Exists() override { return true; }
};

TEST(WebguardNames, ThePlantedSettingGetsASuspiciousRowAndTheOrdinaryOneNone) {
  CMemoryFiles files;
  COneSignature library;
  CManualClock clock{1700000000};
  CNoSleep sleeper;
  CNoLock lock;
  CWatcherFileList pending;
  CWebGuardPorts ports{files, library, clock, sleeper, lock, pending};
  CScriptChecker checker(ports);
  CGuardResults results(std::make_unique<CQuietWindow>());
  files.files["C:\\w\\up\\.htaccess"] = "AddType application/x-httpd-php .jpg\r\n";
  files.files["C:\\w\\.htaccess"] = "RewriteEngine On\r\nRewriteRule ^(.*)$ index.php/$1 [L]\r\n";
  files.files["C:\\w\\up\\.user.ini"] = "auto_prepend_file=1.gif\n";
  files.files["C:\\w\\web.config"] = "<configuration><appSettings><add key=\"a\" value=\"b\"/></appSettings></configuration>";
  // The same line in a page is text, not a setting.
  files.files["C:\\w\\notes.txt"] = "AddType application/x-httpd-php .jpg\n";
  for (const auto& file : files.files) pending.push_back(MakeWatcherFile(file.first, kActionScanned, "t"));
  checker.CheckPendingBatch(results);
  const std::vector<CGuardResults::CRow> rows = results.Rows();
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ("C:\\w\\up\\.htaccess", rows[0].strFile);
  EXPECT_EQ("C:\\w\\up\\.user.ini", rows[1].strFile);
  EXPECT_EQ(kSuspiciousType, rows[0].strType);
  EXPECT_EQ(kSuspiciousType, rows[1].strType);
}

}  // namespace
