#include "config/config_keeper.h"

#include <cstdio>
#include <map>

#include "config/daily_log.h"
#include "config/ini_access.h"

const char kGoodCopySuffix[] = ".bak";
const char kDamagedCopySuffix[] = ".damaged";
const char kConfigLogPrefix[] = "cfg";

namespace {

const char kTempSuffix[] = ".tmp";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; }

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

// Section and key names compare without regard to ASCII case, as the profile functions do.
std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

struct CParsedProfile {
  std::map<std::string, std::map<std::string, std::string>> sections;
  // The last line when the text does not end with a line break, as section and key.
  bool bOpenLastLine = false;
  std::string strLastSection, strLastKey, strLastValue;
};

CParsedProfile Parse(const std::string& text) {
  CParsedProfile parsed;
  std::string section;
  bool inSection = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    const bool open = end == std::string::npos;
    if (open) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = Trim(line);
    start = end + 1;
    if (!line.empty() && line[0] == '[') {
      const size_t close = line.find(']');
      if (close != std::string::npos) {
        section = Lower(Trim(line.substr(1, close - 1)));
        inSection = true;
        parsed.sections[section];
      }
      continue;
    }
    const size_t equals = line.find('=');
    if (!inSection || equals == std::string::npos || line[0] == ';') continue;
    const std::string key = Lower(Trim(line.substr(0, equals)));
    const std::string value = Trim(line.substr(equals + 1));
    parsed.sections[section][key] = value;
    if (open) {
      parsed.bOpenLastLine = true;
      parsed.strLastSection = section;
      parsed.strLastKey = key;
      parsed.strLastValue = value;
    }
  }
  return parsed;
}

bool LacksSomethingOf(const CParsedProfile& file, const CParsedProfile& copy) {
  for (const auto& section : copy.sections) {
    auto found = file.sections.find(section.first);
    if (found == file.sections.end()) return true;
    for (const auto& key : section.second)
      if (found->second.count(key.first) == 0) return true;
  }
  return false;
}

bool LastValueCut(const CParsedProfile& file, const CParsedProfile& copy) {
  if (!file.bOpenLastLine) return false;
  auto section = copy.sections.find(file.strLastSection);
  if (section == copy.sections.end()) return false;
  auto key = section->second.find(file.strLastKey);
  if (key == section->second.end()) return false;
  const std::string& full = key->second;
  const std::string& seen = file.strLastValue;
  return seen.size() < full.size() && full.compare(0, seen.size(), seen) == 0;
}

const char* DamageText(ConfigDamage damage) {
  switch (damage) {
    case ConfigDamage::kMissing:
      return "不存在";
    case ConfigDamage::kEmpty:
      return "为空";
    case ConfigDamage::kNoSection:
      return "没有任何节";
    case ConfigDamage::kCut:
      return "内容不完整";
    case ConfigDamage::kNone:
      break;
  }
  return "";
}

std::string PlainName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

ConfigDamage FindConfigDamage(bool exists, const std::string& file, const std::string& goodCopy) {
  if (!exists) return ConfigDamage::kMissing;
  bool blank = true;
  for (char c : file) blank = blank && IsBlank(c);
  if (blank) return ConfigDamage::kEmpty;
  // Saved as Unicode by hand: the profile functions read it; it is not judged here.
  if (file.compare(0, 2, "\xFF\xFE") == 0) return ConfigDamage::kNone;
  if (file.find('\0') != std::string::npos) return ConfigDamage::kCut;
  const CParsedProfile parsed = Parse(file);
  if (parsed.sections.empty()) return ConfigDamage::kNoSection;
  if (goodCopy.empty()) return ConfigDamage::kNone;
  const CParsedProfile copy = Parse(goodCopy);
  if (LacksSomethingOf(parsed, copy) || LastValueCut(parsed, copy)) return ConfigDamage::kCut;
  return ConfigDamage::kNone;
}

CConfigKeeper::CConfigKeeper(IProfileStore& profile, IConfigFiles& files, ILogFileSystem* log,
                             std::string configFile)
    : m_profile(profile), m_files(files), m_pLog(log), m_strFile(std::move(configFile)) {}

std::string CConfigKeeper::Get(const std::string& file, const std::string& section, const std::string& key) {
  return m_profile.Get(file, section, key);
}

bool CConfigKeeper::Has(const std::string& file, const std::string& section, const std::string& key) {
  return m_profile.Has(file, section, key);
}

bool CConfigKeeper::Put(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value) {
  if (file != m_strFile) return m_profile.Put(file, section, key, value);
  bool takeCopy = !m_bLoading;
  if (takeCopy && key == "onlinetime") {
    const bool wasZero = IniInt(m_profile.Get(file, section, key), 0) == 0;
    takeCopy = wasZero != (IniInt(value, 0) == 0);
  }
  if (!m_profile.Put(file, section, key, value)) return false;
  if (takeCopy) KeepGoodCopy();
  return true;
}

void CConfigKeeper::BeforeLoad(const std::string& file) {
  if (file != m_strFile) return;
  m_bLoading = true;
  RestoreIfDamaged();
}

void CConfigKeeper::AfterLoad(const std::string& file) {
  if (file != m_strFile) return;
  m_bLoading = false;
  KeepGoodCopy();
}

ConfigDamage CConfigKeeper::RestoreIfDamaged() {
  std::string bytes, copy;
  const bool exists = m_files.Read(m_strFile, bytes);
  const bool copySound =
      m_files.Read(GoodCopyPath(), copy) && FindConfigDamage(true, copy, "") == ConfigDamage::kNone;
  const ConfigDamage damage = FindConfigDamage(exists, bytes, copySound ? copy : "");
  if (damage == ConfigDamage::kNone || !copySound) return damage;
  // What was there stays readable beside it, in case it held anything worth keeping.
  if (damage != ConfigDamage::kMissing && damage != ConfigDamage::kEmpty)
    m_files.WriteThrough(m_strFile + kDamagedCopySuffix, bytes);
  if (!WriteAtomically(m_strFile, copy)) return damage;
  if (m_pLog) {
    const int64_t seconds = ((m_pLog->LocalNow() % 86400) + 86400) % 86400;
    char clock[16];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d ", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    const std::string name = PlainName(m_strFile);
    AppendLog(*m_pLog,
              clock + name + DamageText(damage) + ",已从" + PlainName(GoodCopyPath()) + "恢复\r\n",
              kLogFolder, kConfigLogPrefix);
  }
  return damage;
}

bool CConfigKeeper::KeepGoodCopy() {
  std::string bytes, copy;
  if (!m_files.Read(m_strFile, bytes)) return false;
  const bool hasCopy = m_files.Read(GoodCopyPath(), copy);
  if (hasCopy && copy == bytes) return true;
  // Measured against the copy too: a file that lost keys since then is not taken over it.
  if (FindConfigDamage(true, bytes, hasCopy ? copy : "") != ConfigDamage::kNone) return false;
  return WriteAtomically(GoodCopyPath(), bytes);
}

bool CConfigKeeper::WriteAtomically(const std::string& path, const std::string& bytes) {
  const std::string temp = path + kTempSuffix;
  std::string written;
  // Read back before the switch: a port that claims success for a short write must not
  // replace a whole copy with part of one.
  if (!m_files.WriteThrough(temp, bytes) || !m_files.Read(temp, written) || written != bytes ||
      !m_files.Replace(temp, path)) {
    m_files.Remove(temp);
    return false;
  }
  return true;
}
