#include "config/config_keeper.h"

#include <cstdio>
#include <map>
#include <vector>

#include "config/daily_log.h"
#include "config/ini_access.h"
#include "config/settings.h"

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

// One line of the file as the profile functions read it.
struct CProfileLine {
  enum Kind { kBlank, kHeader, kKey, kOther } kind = kBlank;
  std::string strSection;  // lower case: the header's own, or the section the line stands in
  std::string strKey;      // lower case, key lines only
  std::string strValue;    // key lines only, trimmed
  std::string strText;     // as written, without the line break
};

struct CParsedProfile {
  std::map<std::string, std::map<std::string, std::string>> sections;
  std::vector<CProfileLine> lines;
  // The text ends inside its last line (no line feed, nor the carriage return before one).
  bool bOpenLastLine = false;
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
    CProfileLine entry;
    entry.strText = text.substr(start, end - start);
    const bool carriageReturn = !entry.strText.empty() && entry.strText.back() == '\r';
    if (carriageReturn) entry.strText.pop_back();
    parsed.bOpenLastLine = open && !carriageReturn;
    start = end + 1;
    const std::string line = Trim(entry.strText);
    const size_t close = line.find(']');
    const size_t equals = line.find('=');
    if (line.empty()) {
      entry.kind = CProfileLine::kBlank;
    } else if (line[0] == '[' && close != std::string::npos) {
      section = Lower(Trim(line.substr(1, close - 1)));
      inSection = true;
      parsed.sections[section];
      entry.kind = CProfileLine::kHeader;
    } else if (inSection && equals != std::string::npos && line[0] != ';') {
      entry.kind = CProfileLine::kKey;
      entry.strKey = Lower(Trim(line.substr(0, equals)));
      entry.strValue = Trim(line.substr(equals + 1));
      parsed.sections[section][entry.strKey] = entry.strValue;
    } else {
      entry.kind = CProfileLine::kOther;
    }
    entry.strSection = section;
    parsed.lines.push_back(entry);
  }
  return parsed;
}

// The line the text ends in when it ends without a line break; null otherwise.
const CProfileLine* OpenLastLine(const CParsedProfile& parsed) {
  return parsed.bOpenLastLine && !parsed.lines.empty() ? &parsed.lines.back() : nullptr;
}

const std::string* CopyValue(const CParsedProfile& copy, const std::string& section, const std::string& key) {
  auto s = copy.sections.find(section);
  if (s == copy.sections.end()) return nullptr;
  auto k = s->second.find(key);
  return k == s->second.end() ? nullptr : &k->second;
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
  const CProfileLine* last = OpenLastLine(file);
  if (last == nullptr || last->kind != CProfileLine::kKey) return false;
  const std::string* full = CopyValue(copy, last->strSection, last->strKey);
  const std::string& seen = last->strValue;
  return full != nullptr && seen.size() < full->size() && full->compare(0, seen.size(), seen) == 0;
}

// The two address lists: a cut inside their last item can leave another valid item (the exact
// mark "|0" of 61.0.0.0|0|5分钟|0 gone, a shorter port, another address).
bool IsListKey(const CProfileLine& line) {
  return line.kind == CProfileLine::kKey &&
         ((line.strSection == ini::kIpFilter && line.strKey == "ipfilterlst") ||
          (line.strSection == ini::kIpOuter && line.strKey == "ipouterlst"));
}

// The file ends inside a list value whose last item may be cut: the copy does not hold that
// very value.
bool EndsInOpenListItem(const CParsedProfile& file, const CParsedProfile* copy) {
  const CProfileLine* last = OpenLastLine(file);
  if (last == nullptr || !IsListKey(*last) || last->strValue.empty()) return false;
  const std::string* kept = copy ? CopyValue(*copy, last->strSection, last->strKey) : nullptr;
  return kept == nullptr || *kept != last->strValue;
}

// The file with every line ended: an open list value loses its unterminated last item, an
// open line that is no key is dropped, and a whole value just gets its line break.
std::string WithLastLineClosed(const CParsedProfile& file, const CParsedProfile* copy) {
  std::string text;
  for (size_t i = 0; i < file.lines.size(); ++i) {
    const CProfileLine& line = file.lines[i];
    const bool last = i + 1 == file.lines.size();
    if (!last || !file.bOpenLastLine) {
      text += line.strText + "\r\n";
    } else if (EndsInOpenListItem(file, copy)) {
      const size_t equals = line.strText.find('=');
      const size_t comma = line.strText.rfind(',');
      text += line.strText.substr(0, comma != std::string::npos && comma > equals ? comma : equals + 1) + "\r\n";
    } else if (line.kind == CProfileLine::kKey) {
      text += line.strText + "\r\n";
    }
  }
  return text;
}

// The file with the keys it lacks taken from the copy: each into its section (after the
// section's last line), or in a section of its own at the end.
std::string WithKeysOf(const CParsedProfile& file, const CParsedProfile& copy) {
  std::vector<std::string> out;
  std::map<std::string, size_t> sectionEnd;  // after the section's last line in `out`
  for (const CProfileLine& line : file.lines) {
    out.push_back(line.strText + "\r\n");
    if (line.kind != CProfileLine::kBlank && !line.strSection.empty()) sectionEnd[line.strSection] = out.size();
  }
  std::map<std::string, std::string> added;  // new sections, in the copy's order of appearance
  std::vector<std::string> newSections;
  for (const CProfileLine& line : copy.lines) {
    if (line.kind == CProfileLine::kHeader && file.sections.count(line.strSection) == 0 &&
        added.count(line.strSection) == 0) {
      added[line.strSection] = line.strText + "\r\n";
      newSections.push_back(line.strSection);
    }
    if (line.kind != CProfileLine::kKey) continue;
    auto section = file.sections.find(line.strSection);
    if (section != file.sections.end() && section->second.count(line.strKey)) continue;
    if (section == file.sections.end()) {
      added[line.strSection] += line.strText + "\r\n";
      continue;
    }
    size_t& at = sectionEnd[line.strSection];
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), line.strText + "\r\n");
    for (auto& other : sectionEnd)
      if (other.second >= at && &other.second != &at) ++other.second;
    ++at;
  }
  std::string text;
  for (const std::string& line : out) text += line;
  for (const std::string& section : newSections) text += added[section];
  return text;
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
    case ConfigDamage::kLacksKeys:
      return "缺少键";
    case ConfigDamage::kOpenListItem:
      return "最后一项未写完";
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
  const CParsedProfile copy = Parse(goodCopy);
  const CParsedProfile* sound = goodCopy.empty() ? nullptr : &copy;
  if (sound && LastValueCut(parsed, copy)) return ConfigDamage::kCut;
  if (sound && LacksSomethingOf(parsed, copy)) {
    // Keys gone and the file ending inside a value that may be cut too: only the copy is sure.
    const CProfileLine* last = OpenLastLine(parsed);
    if (last && last->kind == CProfileLine::kKey && !IsListKey(*last)) return ConfigDamage::kCut;
    return ConfigDamage::kLacksKeys;
  }
  if (EndsInOpenListItem(parsed, sound)) return ConfigDamage::kOpenListItem;
  return ConfigDamage::kNone;
}

std::string RepairedConfig(ConfigDamage damage, const std::string& file, const std::string& goodCopy) {
  if (damage != ConfigDamage::kLacksKeys && damage != ConfigDamage::kOpenListItem) return goodCopy;
  const CParsedProfile copy = Parse(goodCopy);
  const CParsedProfile* sound = goodCopy.empty() ? nullptr : &copy;
  const std::string closed = WithLastLineClosed(Parse(file), sound);
  if (damage == ConfigDamage::kOpenListItem) return closed;
  return WithKeysOf(Parse(closed), copy);
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
  if (!copySound) copy.clear();
  const ConfigDamage damage = FindConfigDamage(exists, bytes, copy);
  if (damage == ConfigDamage::kNone) return damage;
  // Only a cut list item is mended without the copy; everything else needs it.
  if (copy.empty() && damage != ConfigDamage::kOpenListItem) return damage;
  // What was there stays readable beside it, in case it held anything worth keeping.
  if (damage != ConfigDamage::kMissing && damage != ConfigDamage::kEmpty)
    m_files.WriteThrough(m_strFile + kDamagedCopySuffix, bytes);
  if (!WriteAtomically(m_strFile, RepairedConfig(damage, bytes, copy))) return damage;
  if (m_pLog) {
    const std::string clock = LogClock(m_pLog->LocalNow());
    const std::string name = PlainName(m_strFile);
    std::string action = ",已从" + PlainName(GoodCopyPath()) + "恢复";
    if (damage == ConfigDamage::kLacksKeys) action = ",已从" + PlainName(GoodCopyPath()) + "补回所缺的键";
    if (damage == ConfigDamage::kOpenListItem) action = ",已去掉列表中未写完的最后一项";
    AppendLog(*m_pLog, clock + name + DamageText(damage) + action + "\r\n", kLogFolder, kConfigLogPrefix);
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
