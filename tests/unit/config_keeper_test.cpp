// The good copy of the configuration file: found damage, restores, and writes that are cut
// short by a crash or a failing disk at every possible byte.
#include "config/config_keeper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "common/clock.h"
#include "config/daily_log.h"
#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/ip_lists.h"
#include "config/settings.h"

namespace {

struct CPowerCut {};

// Files in memory. A byte budget models a crash: the write that exhausts it leaves the bytes
// written so far and throws. `shortWrites` makes writes keep half the bytes and claim success.
class CMemoryFiles : public IConfigFiles {
 public:
  std::map<std::string, std::string> files;
  long long budget = -1;  // bytes that may still be written; -1 = no limit
  bool shortWrites = false;
  bool failReplace = false;

  bool Read(const std::string& path, std::string& bytes) override {
    auto it = files.find(path);
    if (it == files.end()) return false;
    bytes = it->second;
    return true;
  }
  bool WriteThrough(const std::string& path, const std::string& bytes) override {
    std::string& file = files[path];
    file.clear();
    if (budget >= 0 && static_cast<long long>(bytes.size()) > budget) {
      file = bytes.substr(0, static_cast<size_t>(budget));
      budget = 0;
      throw CPowerCut();
    }
    if (budget >= 0) budget -= static_cast<long long>(bytes.size());
    file = shortWrites ? bytes.substr(0, bytes.size() / 2) : bytes;
    return true;
  }
  bool Replace(const std::string& from, const std::string& to) override {
    if (failReplace || files.count(from) == 0) return false;
    files[to] = files[from];  // one step, as a rename is
    files.erase(from);
    return true;
  }
  void Remove(const std::string& path) override { files.erase(path); }
};

class CMemoryLog : public ILogFileSystem {
 public:
  std::map<std::string, std::string> files;
  bool IsDirectory(const std::string&) override { return true; }
  bool CreateFolder(const std::string&) override { return true; }
  bool AppendToFile(const std::string& path, const std::string& bytes) override {
    files[path] += bytes;
    return true;
  }
  bool ListFolder(const std::string&, std::vector<CFolderEntry>&) override { return false; }
  bool LastWriteLocal(const std::string&, int64_t&) override { return false; }
  bool RemoveFile(const std::string&) override { return false; }
  bool IsReparsePoint(const std::string&) override { return false; }
  int64_t LocalNow() override { return 19676 * int64_t(86400) + 3723; }  // 2023-11-15 01:02:03
};

const std::string kCfg = kConfigFile;
const std::string kCopy = kCfg + ".bak";

// A file as the profile functions write it: sections in creation order, CRLF, a final line break.
std::string SavedFile(const std::string& onlinetime, const std::string& list) {
  return "[sysice]\r\nsysicetimer=5分钟\r\nruntray=0\r\nonlinetime=" + onlinetime +
         "\r\n[ipouter]\r\nipouterlst=192.168.0.0\r\n[msg]\r\nemil=admin@example.com\r\n"
         "[ipfilter]\r\nipfilterlst=" + list + "\r\n";
}
const std::string kList = "203.0.113.7|0|5分钟|0,61.135.0.0|80|24小时,8.8.8.8|0|永远";

// The line is there in full: followed by a line break or by the end of the file.
bool HoldsWhole(const std::string& file, const std::string& line) {
  const size_t at = file.find(line);
  return at != std::string::npos && (at + line.size() == file.size() || file[at + line.size()] == '\r');
}

// The value of a key in the file's text ("" when it is not there).
std::string ValueIn(const std::string& file, const std::string& key) {
  const size_t at = file.find("\n" + key + "=");
  if (at == std::string::npos) return std::string();
  const size_t begin = at + key.size() + 2;
  return file.substr(begin, file.find_first_of("\r\n", begin) - begin);
}

TEST(ConfigDamage, WhatCountsAsDamaged) {
  const std::string copy = SavedFile("0", kList);
  EXPECT_EQ(ConfigDamage::kMissing, FindConfigDamage(false, "", copy));
  EXPECT_EQ(ConfigDamage::kEmpty, FindConfigDamage(true, "", copy));
  EXPECT_EQ(ConfigDamage::kEmpty, FindConfigDamage(true, std::string(4096, '\0'), copy));  // a power cut on NTFS
  EXPECT_EQ(ConfigDamage::kEmpty, FindConfigDamage(true, " \r\n\t", copy));
  EXPECT_EQ(ConfigDamage::kNoSection, FindConfigDamage(true, "sysicetimer=5分钟\r\nonlinetime=3\r\n", copy));
  EXPECT_EQ(ConfigDamage::kNoSection, FindConfigDamage(true, "[sysi", copy));
  EXPECT_EQ(ConfigDamage::kCut, FindConfigDamage(true, SavedFile("0", kList) + std::string(8, '\0'), copy));
  const std::string whole = SavedFile("0", kList);
  // Keys gone at a line's end: an administrator's deletion or a cut there; the copy has them.
  EXPECT_EQ(ConfigDamage::kLacksKeys, FindConfigDamage(true, whole.substr(0, whole.find("[msg]")), copy));
  EXPECT_EQ(ConfigDamage::kCut, FindConfigDamage(true, whole.substr(0, whole.size() - 20), copy));
  // Sound: the same file, more keys, changed values, a hand edit without a final line break.
  EXPECT_EQ(ConfigDamage::kNone, FindConfigDamage(true, whole, copy));
  EXPECT_EQ(ConfigDamage::kNone, FindConfigDamage(true, SavedFile("77", kList) + "[ping]\r\npingin=1\r\n", copy));
  EXPECT_EQ(ConfigDamage::kNone, FindConfigDamage(true, SavedFile("0", "1.2.3.4|0|永远"), copy));
  EXPECT_EQ(ConfigDamage::kNone, FindConfigDamage(true, "[SysIce]\nSysIceTimer = 1小时", "[sysice]\r\nsysicetimer=5分钟\r\n"));
  EXPECT_EQ(ConfigDamage::kNone, FindConfigDamage(true, std::string("\xFF\xFE[\0s\0]\0", 8), copy));
  // Without a good copy only the plain cases can be told, and a list value cut short.
  EXPECT_EQ(ConfigDamage::kNone, FindConfigDamage(true, whole.substr(0, whole.find("[ipouter]") - 5), ""));
  EXPECT_EQ(ConfigDamage::kOpenListItem, FindConfigDamage(true, whole.substr(0, whole.size() - 20), ""));
  // A list value without its line break is whole when the copy holds it just so.
  EXPECT_EQ(ConfigDamage::kNone, FindConfigDamage(true, whole.substr(0, whole.size() - 2), copy));
}

TEST(ConfigKeeper, EveryCutOfARewriteComesBackWholeAtTheNextLoad) {
  // The copy was taken at the last list save; then the once-a-second protection time rewrote the
  // file and the machine died after `cut` bytes of that rewrite.
  const std::string copy = SavedFile("0", kList);
  const std::string rewrite = SavedFile("5", kList);
  for (size_t cut = 0; cut <= rewrite.size(); ++cut) {
    CMemoryFiles files;
    CMemoryLog log;
    files.files[kCopy] = copy;
    files.files[kCfg] = rewrite.substr(0, cut);
    CMemoryProfileStore profile;
    CConfigKeeper keeper(profile, files, &log, kCfg);
    const ConfigDamage damage = keeper.RestoreIfDamaged();
    const std::string& now = files.files[kCfg];
    ASSERT_TRUE(HoldsWhole(now, "ipfilterlst=" + kList)) << cut;
    ASSERT_TRUE(HoldsWhole(now, "emil=admin@example.com")) << cut;
    if (damage == ConfigDamage::kLacksKeys) {
      // Cut at a line's end: what the rewrite holds stays, the rest comes from the copy.
      ASSERT_EQ(ConfigDamage::kNone, FindConfigDamage(true, now, copy)) << cut;
      const size_t written = rewrite.find("onlinetime=5") + std::string("onlinetime=5\r").size();
      ASSERT_EQ(cut >= written ? "5" : "0", ValueIn(now, "onlinetime")) << cut;
    } else {
      ASSERT_EQ(damage != ConfigDamage::kNone, now == copy) << cut;
    }
    EXPECT_EQ(damage != ConfigDamage::kNone, log.files.size() == 1) << cut;
  }
}

// A list save that adds a new last item, an automatic block marked exact, cut at every byte:
// after the load's repair, no item reads as anything but what one of the two saves held, and
// the new entry is exact or absent, never the pattern 61.*.*.*.
TEST(ConfigKeeper, NoCutOfAListSaveTurnsAnExactEntryIntoAPattern) {
  const std::string copy = SavedFile("0", kList);
  for (const std::string& added : {std::string(",61.0.0.0|0|5分钟|0"), std::string(",61.0.0.0|8080|1个月|0")}) {
    const std::string rewrite = SavedFile("0", kList + added);
    for (const bool withCopy : {true, false}) {
      for (size_t cut = rewrite.find("[ipfilter]"); cut <= rewrite.size(); ++cut) {
        CMemoryFiles files;
        if (withCopy) files.files[kCopy] = copy;
        files.files[kCfg] = rewrite.substr(0, cut);
        CMemoryProfileStore profile;
        CConfigKeeper keeper(profile, files, nullptr, kCfg);
        keeper.RestoreIfDamaged();
        CManualClock clock;
        CIpFilterList loaded, whole;
        DecodeIpFilterList(ValueIn(files.files[kCfg], "ipfilterlst"), clock, loaded);
        DecodeIpFilterList(kList + added, clock, whole);
        for (const auto& entry : loaded) {
          const bool known = std::any_of(whole.begin(), whole.end(), [&](const auto& w) {
            return w->dwIp == entry->dwIp && w->dwPort == entry->dwPort && w->strTime == entry->strTime &&
                   w->dwReserved == entry->dwReserved;
          });
          ASSERT_TRUE(known) << withCopy << " " << cut << " " << InetNtoa(entry->dwIp) << " " << entry->strTime;
        }
        if (cut == rewrite.size()) {
          ASSERT_EQ(whole.size(), loaded.size());
          EXPECT_TRUE(IsExactEntry(*loaded.back()));
        }
      }
    }
  }
}

// An administrator deleted a key by hand: it comes back from the copy, and everything else the
// file holds (newer than the copy) stays as it is.
TEST(ConfigKeeper, AFileThatOnlyLacksKeysGetsJustThoseKeysBack) {
  CMemoryFiles files;
  CMemoryLog log;
  files.files[kCopy] = SavedFile("0", kList) + "[ping]\r\npingin=1\r\n";
  std::string file = SavedFile("0", "8.8.8.8|0|永远");
  file.erase(file.find("emil="), std::string("emil=admin@example.com\r\n").size());
  file.replace(file.find("sysicetimer=5分钟"), std::string("sysicetimer=5分钟").size(), "sysicetimer=1小时");
  files.files[kCfg] = file;
  CMemoryProfileStore profile;
  CConfigKeeper keeper(profile, files, &log, kCfg);
  EXPECT_EQ(ConfigDamage::kLacksKeys, keeper.RestoreIfDamaged());
  const std::string& now = files.files[kCfg];
  EXPECT_EQ("admin@example.com", ValueIn(now, "emil"));
  EXPECT_EQ("1", ValueIn(now, "pingin"));
  EXPECT_EQ("8.8.8.8|0|永远", ValueIn(now, "ipfilterlst"));
  EXPECT_EQ("1小时", ValueIn(now, "sysicetimer"));
  // Each key in its own section: emil under [msg], pingin under a new [ping].
  EXPECT_NE(std::string::npos, now.find("[msg]\r\nemil=admin@example.com\r\n[ipfilter]"));
  EXPECT_NE(std::string::npos, now.find("[ping]\r\npingin=1\r\n"));
  EXPECT_EQ(ConfigDamage::kNone, FindConfigDamage(true, now, files.files[kCopy]));
  EXPECT_EQ(file, files.files[kCfg + ".damaged"]);
  ASSERT_EQ(1u, log.files.size());
  EXPECT_EQ("01:02:03 tavrick.cfg缺少键,已从tavrick.cfg.bak补回所缺的键\r\n", log.files.begin()->second);
}

TEST(ConfigKeeper, RestoreIsLoggedAndKeepsTheDamagedBytes) {
  CMemoryFiles files;
  CMemoryLog log;
  files.files[kCopy] = SavedFile("0", kList);
  files.files[kCfg] = "ipfilterlst=1.2";
  CMemoryProfileStore profile;
  CConfigKeeper keeper(profile, files, &log, kCfg);
  EXPECT_EQ(ConfigDamage::kNoSection, keeper.RestoreIfDamaged());
  EXPECT_EQ(files.files[kCopy], files.files[kCfg]);
  EXPECT_EQ("ipfilterlst=1.2", files.files[kCfg + ".damaged"]);
  ASSERT_EQ(1u, log.files.size());
  EXPECT_EQ(".\\log\\cfg2023_11_15.txt", log.files.begin()->first);
  EXPECT_EQ("01:02:03 tavrick.cfg没有任何节,已从tavrick.cfg.bak恢复\r\n", log.files.begin()->second);
  EXPECT_EQ(0u, files.files.count(kCfg + ".tmp"));

  // A sound file, a missing copy or an unsound copy: nothing is touched.
  files.files[kCfg] = "[sysice]\r\nonlinetime=0\r\n";
  files.files[kCopy] = "garbage";
  EXPECT_EQ(ConfigDamage::kNone, keeper.RestoreIfDamaged());
  files.files[kCfg] = "";
  EXPECT_EQ(ConfigDamage::kEmpty, keeper.RestoreIfDamaged());
  EXPECT_EQ("", files.files[kCfg]);
  files.files.erase(kCopy);
  EXPECT_EQ(ConfigDamage::kEmpty, keeper.RestoreIfDamaged());
  EXPECT_EQ(1u, log.files.size());
  EXPECT_EQ(log.files.begin()->second.find("\r\n") + 2, log.files.begin()->second.size()) << "one restore logged";
}

TEST(ConfigKeeper, TheGoodCopyIsNeverHalfWritten) {
  const std::string before = SavedFile("0", kList);
  const std::string after = SavedFile("0", kList + ",9.9.9.9|0|永远");
  // A crash at every byte of the copy's replacement leaves the old copy or the new one.
  for (long long budget = 0; budget <= static_cast<long long>(after.size()) + 1; ++budget) {
    CMemoryFiles files;
    files.files[kCfg] = after;
    files.files[kCopy] = before;
    files.budget = budget;
    CMemoryProfileStore profile;
    CConfigKeeper keeper(profile, files, nullptr, kCfg);
    try {
      keeper.KeepGoodCopy();
    } catch (const CPowerCut&) {
    }
    const std::string& copy = files.files[kCopy];
    ASSERT_TRUE(copy == before || copy == after) << budget;
  }
  // A disk that keeps half and says it kept all, or a rename that fails: the old copy stays.
  for (int failure = 0; failure < 2; ++failure) {
    CMemoryFiles files;
    files.files[kCfg] = after;
    files.files[kCopy] = before;
    files.shortWrites = failure == 0;
    files.failReplace = failure == 1;
    CMemoryProfileStore profile;
    CConfigKeeper keeper(profile, files, nullptr, kCfg);
    EXPECT_FALSE(keeper.KeepGoodCopy()) << failure;
    EXPECT_EQ(before, files.files[kCopy]) << failure;
    EXPECT_EQ(0u, files.files.count(kCopy + ".tmp")) << failure;
  }
}

TEST(ConfigKeeper, OnlySoundFilesBecomeTheCopy) {
  CMemoryFiles files;
  CMemoryProfileStore profile;
  CConfigKeeper keeper(profile, files, nullptr, kCfg);
  EXPECT_FALSE(keeper.KeepGoodCopy());  // no file yet
  const std::string good = SavedFile("0", kList);
  files.files[kCfg] = good;
  EXPECT_TRUE(keeper.KeepGoodCopy());
  EXPECT_EQ(good, files.files[kCopy]);
  for (const std::string& bad : {std::string(), std::string("no sections"), good.substr(0, good.find("[msg]"))}) {
    files.files[kCfg] = bad;
    EXPECT_FALSE(keeper.KeepGoodCopy());
    EXPECT_EQ(good, files.files[kCopy]);
  }
}

// Writes land in an in-memory profile and, as the text the profile functions would write, in the
// configuration file itself; events are recorded in order.
class CRecordingStore : public CMemoryProfileStore {
 public:
  explicit CRecordingStore(CMemoryFiles& files) : m_files(files) {}
  std::vector<std::string> events;
  std::string Get(const std::string& f, const std::string& s, const std::string& k) override {
    events.push_back("get " + k + (m_files.files[f].empty() ? " from an empty file" : ""));
    return CMemoryProfileStore::Get(f, s, k);
  }
  bool Put(const std::string& f, const std::string& s, const std::string& k, const std::string& v) override {
    events.push_back("put " + k + "=" + v);
    m_files.files[f] += "[" + s + "]\r\n" + k + "=" + v + "\r\n";
    return CMemoryProfileStore::Put(f, s, k, v);
  }

 private:
  CMemoryFiles& m_files;
};

TEST(ConfigKeeper, TheLoadRestoresFirstCopiesAfterAndSavesKeepTheCopy) {
  CMemoryFiles files;
  files.files[kCopy] = "[sysice]\r\nonlinetime=9\r\n";
  files.files[kCfg] = "";
  CRecordingStore profile(files);
  CConfigKeeper keeper(profile, files, nullptr, kCfg);
  CManualClock clock;
  CSettings settings;
  CIpFilterList filters;
  CIpOuterList exceptions;
  LoadConfiguration(keeper, clock, settings, filters, exceptions);
  // The memory profile does not see file restores; the order of the steps is what counts here.
  ASSERT_FALSE(profile.events.empty());
  EXPECT_EQ("get sysicetimer", profile.events.front());
  EXPECT_EQ(files.files[kCfg], files.files[kCopy]) << "copy taken after the load";
  EXPECT_NE(std::string::npos, files.files[kCopy].find("onlinetime=9\r\n[sysice]\r\nruntray=0"));

  // A save renews the copy; the protection time only when it turns on or off.
  WriteIni(keeper, kCfg, "msg", "emil", "a@b.c");
  EXPECT_EQ(files.files[kCfg], files.files[kCopy]);
  WriteIni(keeper, kCfg, "sysice", "onlinetime", "1");
  EXPECT_EQ(files.files[kCfg], files.files[kCopy]);
  WriteIni(keeper, kCfg, "sysice", "onlinetime", "2");
  EXPECT_NE(files.files[kCfg], files.files[kCopy]);
  WriteIni(keeper, kCfg, "sysice", "onlinetime", "0");
  EXPECT_EQ(files.files[kCfg], files.files[kCopy]);
  // Other files pass through untouched.
  const size_t count = files.files.size();
  WriteIni(keeper, ".\\other.ini", "a", "b", "c");
  EXPECT_EQ(count + 1, files.files.size());
}

}  // namespace

// The logon guard's section is kept like any other: a file that lost it gets it back whole.
TEST(ConfigKeeper, TheLogonGuardSectionComesBackWithARestore) {
  const std::string guard =
      "[logonguard]\r\nenabled=1\r\nftp=1\r\nthreshold=3\r\nftplogfolder=D:\\ftplogs\r\nsecurityrecord=1234\r\n";
  for (const std::string& damaged : {SavedFile("0", kList), std::string(), SavedFile("0", kList) + "[logong"}) {
    CMemoryFiles files;
    CMemoryLog log;
    files.files[kCopy] = SavedFile("0", kList) + guard;
    files.files[kCfg] = damaged;
    CMemoryProfileStore profile;
    CConfigKeeper keeper(profile, files, &log, kCfg);
    EXPECT_NE(ConfigDamage::kNone, keeper.RestoreIfDamaged()) << damaged;
    const std::string& now = files.files[kCfg];
    EXPECT_NE(std::string::npos, now.find(guard)) << now;
    EXPECT_EQ("D:\\ftplogs", ValueIn(now, "ftplogfolder"));
  }
}
