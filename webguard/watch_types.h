#pragma once
// Which changed files the web directory watcher records: the extension rules.
#include <string>

// Position of the last separator byte that is a character of its own (not the trail byte of
// a double-byte GBK character), or npos.
size_t FindLastSeparator(const std::string& path, char separator);
size_t FindFirstSeparator(const std::string& path, char separator);
inline bool EndsWithBackslash(const std::string& path) {
  return !path.empty() && FindLastSeparator(path, '\\') == path.size() - 1;
}

// Longest extension the watcher keeps; a longer one matches no type.
constexpr size_t kMaxExtensionLength = 29;

// The text after the last "." of the last path part (after the last backslash, or else the
// last forward slash) up to its first ";"; a name without "." is its own extension. false when
// it is longer than kMaxExtensionLength.
bool ExtensionOfPath(const std::string& path, std::string* extension);

// Lower case for ASCII letters only, leaving both bytes of double-byte GBK characters alone.
std::string LowerGbk(const std::string& text);

// Whether the file may run as a monitored type. Its extensions are compared, exactly and
// ignoring case, with each type slot: the text after the last "." of its name, and, for a name
// with a ";", the text after the last "." before the first ";" (IIS runs both "x.asp;.jpg" and
// "x;.asp" as scripts). An empty slot (an unmonitored type) equals an empty extension, so a name
// ending in "." matches then. A file in a folder whose name ends in ".asp" or ".asa" runs as that
// type (IIS 6), whatever its own name, when that type is monitored.
// Names the servers also run as a family's scripts (".ashx" and ".asmx" as aspx, ".cer" and
// ".cdx" as asp, ".jspx" as jsp, ".phtml", ".php3" to ".php7" and ".phar" as php) match that
// family's slot. The servers' per-folder settings (".htaccess", ".user.ini", "web.config")
// match whatever the slots, since a line in them can make an uploaded "a.jpg" run as a script.
bool MatchesWatchType(const std::string& path, const std::string* types, int typeCount);
// The monitored family an extension (any case) runs as, or "" when it is none of the aliases.
std::string ScriptFamilyOf(const std::string& extension);
// Whether the path's last part is ".htaccess", ".user.ini" or "web.config" (any case).
bool IsServerConfigName(const std::string& path);

// The last `count` parts of a path (after the matching backslash), or the whole path.
std::string LastPathParts(const std::string& path, size_t count, char separator = '\\');
std::u16string LastPathParts(const std::u16string& path, size_t count);
// Number of backslash-separated parts.
size_t PathPartCount(const std::string& path);
