#include "config/settings.h"

#include <vector>

#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/profile_store.h"

CSettings g_Settings;

const char* const g_szWatchTypes[kWatchTypeCount] = {"asp", "asa", "aspx", "php", "jsp"};

namespace {

bool Flag(const std::string& value) { return value == "1"; }

}  // namespace

void LoadConfiguration(IProfileStore& store, IClock& clock, CSettings& s, CIpFilterList& filters,
                       CIpOuterList& exceptions) {
  store.BeforeLoad(kConfigFile);
  auto read = [&](const char* section, const char* key) { return ReadIni(store, kConfigFile, section, key); };
  std::vector<std::string> fields;

  s.sysicetimer = IniString(read(ini::kSysice, "sysicetimer"), "5分钟");
  s.sysiceipcount = IniInt(read(ini::kSysice, "sysiceipcount"), s.sysiceipcount);
  s.sysiceipmb = IniInt(read(ini::kSysice, "sysiceipmb"), s.sysiceipmb);
  s.filterdevice = IniString(read(ini::kSysice, "filterdevice"), "auto");

  DecodeIpOuterList(read(ini::kIpOuter, "ipouterlst"), exceptions);
  DecodeIpFilterList(read(ini::kIpFilter, "ipfilterlst"), clock, filters);

  s.watchfilepath = read(ini::kWatch, "watchfilepath");
  s.watchfileon = IniString(read(ini::kWatch, "watchfileon"), "off");
  s.watchfileext.fill(std::string());
  SplitString(read(ini::kWatch, "watchfileext"), ',', fields);
  for (size_t i = 0; i < fields.size() && i < s.watchfileext.size(); ++i) s.watchfileext[i] = fields[i];
  s.watchfilelogcount = IniInt(read(ini::kWatch, "watchfilelogcount"), 28);

  bool* const flags[] = {&s.downchk, &s.ipfilterchk, &s.wormchk,   &s.diskchk,
                         &s.cpuchk,  &s.memorychk,   &s.timerchk, &s.userchk};
  const char* const flagKeys[] = {"downchk", "ipfilterchk", "wormchk", "diskchk",
                                  "cpuchk",  "memorychk",   "timerchk", "userchk"};
  for (size_t i = 0; i < 8; ++i) *flags[i] = Flag(read(ini::kMsg, flagKeys[i]));
  s.strEmail = read(ini::kMsg, "emil");
  s.strPhone = read(ini::kMsg, "phone");
  s.strServiceHost = read(ini::kMsg, "servicehost");

  s.pingin = Flag(read(ini::kPing, "pingin"));
  s.pingout = Flag(read(ini::kPing, "pingout"));

  s.remotepassw = read(ini::kRemote, "remotepassw");

  s.logday = IniInt(read(ini::kLog, "logday"), 90);

  s.llProtectSeconds = static_cast<int64_t>(IniInt(read(ini::kSysice, "onlinetime"), 0));
  s.runtray = read(ini::kSysice, "runtray");

  WriteIni(store, kConfigFile, ini::kSysice, "runtray", "0");
  WriteIni(store, kConfigFile, ini::kSysice, "onlinetime", "0");
  store.AfterLoad(kConfigFile);
}

std::string EncodeWatchTypes(const std::array<std::string, kWatchTypeCount>& slots) {
  std::string text;
  for (size_t i = 0; i < slots.size(); ++i) {
    if (i) text += ',';
    text += slots[i];
  }
  return text;
}
