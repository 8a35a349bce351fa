#include "webguard/server_config.h"

#include <cctype>
#include <vector>

#include "webguard/watch_types.h"

namespace {

std::string Lower(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

std::string Unquoted(const std::string& text) {
  std::string value = Trim(text);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return Trim(value);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(Trim(text.substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    const size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// The text after the last "." of a name or pattern, without quotes or wildcards.
std::string ExtensionOfTarget(const std::string& target) {
  const std::string value = Unquoted(target);
  const size_t dot = value.rfind('.');
  if (dot == std::string::npos) return std::string();
  std::string ext;
  for (size_t i = dot + 1; i < value.size() && std::isalnum(static_cast<unsigned char>(value[i])); ++i) {
    ext.push_back(value[i]);
  }
  return ext;
}

// A handler or type that runs what it is given: PHP, CGI and the script engines.
bool IsScriptHandler(const std::string& handler) {
  static const char* const kMarks[] = {"php", "x-httpd", "cgi", "-script", "lsapi", "python", "perl", "asp", "jsp"};
  const std::string lower = Lower(Unquoted(handler));
  for (const char* mark : kMarks) {
    if (lower.find(mark) != std::string::npos) return true;
  }
  return false;
}

// Whether a <Files>/<FilesMatch> pattern names script names only: every word of the pattern is
// a script extension ("\.(php|phtml)$"), or it is a plain name whose extension is one.
bool PatternNamesScriptsOnly(const std::string& pattern) {
  std::vector<std::string> words;
  std::string word;
  for (char c : pattern + " ") {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      word.push_back(c);
    } else if (!word.empty()) {
      words.push_back(word);
      word.clear();
    }
  }
  bool all = !words.empty();
  for (const std::string& w : words) all = all && IsScriptExtension(w);
  if (all) return true;
  const std::string plain = Unquoted(pattern);
  if (plain.find_first_of("*?[]()|^$~\\+") != std::string::npos) return false;
  const std::string ext = ExtensionOfTarget(plain);
  return !ext.empty() && IsScriptExtension(ext);
}

bool IsPrependSetting(const std::string& key, const std::string& value) {
  const std::string name = Lower(Trim(key));
  if (name != "auto_prepend_file" && name != "auto_append_file") return false;
  const std::string file = Lower(Unquoted(value));
  return !file.empty() && file != "none";
}

bool HtaccessRunsOtherNames(const std::string& text) {
  std::vector<std::string> sections;  // patterns of the open <Files>/<FilesMatch> sections
  for (const std::string& line : Lines(text)) {
    if (line.empty() || line[0] == '#') continue;
    const std::string lower = Lower(line);
    if (lower.compare(0, 6, "<files") == 0) {
      const size_t space = line.find_first_of(" \t");
      std::string pattern = space == std::string::npos ? std::string() : line.substr(space + 1);
      if (!pattern.empty() && pattern.back() == '>') pattern.pop_back();
      sections.push_back(Trim(pattern));
      continue;
    }
    if (lower.compare(0, 7, "</files") == 0) {
      if (!sections.empty()) sections.pop_back();
      continue;
    }
    const std::vector<std::string> words = Words(line);
    if (words.size() < 2) continue;
    const std::string directive = Lower(words[0]);
    if (directive == "addtype" || directive == "addhandler") {
      if (!IsScriptHandler(words[1])) continue;
      for (size_t i = 2; i < words.size(); ++i) {
        std::string ext = Unquoted(words[i]);
        if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
        if (!IsScriptExtension(ext)) return true;
      }
    } else if (directive == "sethandler" || directive == "forcetype") {
      if (!IsScriptHandler(words[1])) continue;
      // Every name of the folder runs as a script, unless a section keeps it to script names.
      bool scriptsOnly = false;
      for (const std::string& pattern : sections) scriptsOnly = scriptsOnly || PatternNamesScriptsOnly(pattern);
      if (!scriptsOnly) return true;
    } else if ((directive == "php_value" || directive == "php_admin_value") && words.size() >= 3) {
      if (IsPrependSetting(words[1], words[2])) return true;
    }
  }
  return false;
}

bool UserIniRunsOtherNames(const std::string& text) {
  for (const std::string& line : Lines(text)) {
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    const size_t equals = line.find('=');
    if (equals != std::string::npos && IsPrependSetting(line.substr(0, equals), line.substr(equals + 1))) return true;
  }
  return false;
}

// The value of attribute name (lower case) in an element's text (lower case), or "".
bool Attribute(const std::string& element, const std::string& name, std::string* value) {
  size_t at = 0;
  while ((at = element.find(name, at)) != std::string::npos) {
    const bool starts = at > 0 && std::isspace(static_cast<unsigned char>(element[at - 1]));
    size_t i = at + name.size();
    while (i < element.size() && std::isspace(static_cast<unsigned char>(element[i]))) ++i;
    if (starts && i < element.size() && element[i] == '=') {
      ++i;
      while (i < element.size() && std::isspace(static_cast<unsigned char>(element[i]))) ++i;
      if (i < element.size() && (element[i] == '"' || element[i] == '\'')) {
        const size_t end = element.find(element[i], i + 1);
        if (end == std::string::npos) return false;
        *value = element.substr(i + 1, end - i - 1);
        return true;
      }
    }
    at += name.size();
  }
  return false;
}

bool MapsScriptProcessor(const std::string& element) {
  std::string value;
  if (Attribute(element, "scriptprocessor", &value) && !Trim(value).empty()) return true;
  if (Attribute(element, "modules", &value)) {
    for (const char* module : {"isapimodule", "fastcgimodule", "cgimodule"}) {
      if (value.find(module) != std::string::npos) return true;
    }
  }
  if (Attribute(element, "type", &value)) {
    for (const char* type : {"pagehandlerfactory", "simplehandlerfactory", "webservicehandlerfactory",
                             "pagebuildprovider", "webhandlerbuildprovider", "webservicebuildprovider"}) {
      if (value.find(type) != std::string::npos) return true;
    }
  }
  return false;
}

bool WebConfigRunsOtherNames(const std::string& text) {
  const std::string lower = Lower(text);
  size_t at = 0;
  while ((at = lower.find("<add", at)) != std::string::npos) {
    at += 4;
    if (at >= lower.size() || !std::isspace(static_cast<unsigned char>(lower[at]))) continue;
    const size_t end = lower.find('>', at);
    const std::string element = " " + lower.substr(at, end == std::string::npos ? std::string::npos : end - at);
    std::string target;
    if (!Attribute(element, "path", &target) && !Attribute(element, "extension", &target)) continue;
    if (IsScriptExtension(ExtensionOfTarget(target))) continue;
    if (MapsScriptProcessor(element)) return true;
  }
  return false;
}

}  // namespace

bool IsScriptExtension(const std::string& extension) {
  static const char* const kScripts[] = {
      "asp",   "asa",  "cer",  "cdx",  "aspx", "ashx", "asmx",  "ascx", "asax", "axd",  "svc",  "soap", "rem",
      "master", "cshtml", "vbhtml", "php", "php2", "php3", "php4", "php5", "php6", "php7", "php8", "phtml",
      "phar",  "jsp",  "jspx", "jspf", "cgi",  "fcgi", "pl",   "py",   "shtml", "shtm", "stm",
  };
  const std::string lower = Lower(extension);
  for (const char* script : kScripts) {
    if (lower == script) return true;
  }
  return false;
}

ServerConfigKind ServerConfigKindOf(const std::string& path) {
  if (!IsServerConfigName(path)) return ServerConfigKind::kNone;
  const std::string name = LowerGbk(LastPathParts(LastPathParts(path, 1, '\\'), 1, '/'));
  if (name == ".htaccess") return ServerConfigKind::kHtaccess;
  if (name == ".user.ini") return ServerConfigKind::kUserIni;
  return ServerConfigKind::kWebConfig;
}

bool ServerConfigRunsOtherNames(ServerConfigKind kind, const std::string& text) {
  switch (kind) {
    case ServerConfigKind::kHtaccess:
      return HtaccessRunsOtherNames(text);
    case ServerConfigKind::kUserIni:
      return UserIniRunsOtherNames(text);
    case ServerConfigKind::kWebConfig:
      return WebConfigRunsOtherNames(text);
    case ServerConfigKind::kNone:
      break;
  }
  return false;
}
