#pragma once
// The servers' per-folder settings as the check reads them: a line in ".htaccess", ".user.ini"
// or "web.config" that makes another name run as a script (an uploaded "a.jpg" served as PHP
// or ASP.NET, or a file prepended to every script) is what an attacker plants beside a shell
// that the watcher would otherwise never see run. Ordinary settings (rewrite rules, caching
// headers, MIME maps, connection strings, the handlers of the script names themselves) are not.
#include <string>

enum class ServerConfigKind { kNone, kHtaccess, kUserIni, kWebConfig };

// Which of the three a path's last part names (any case).
ServerConfigKind ServerConfigKindOf(const std::string& path);

// Whether the text of such a file makes a name outside the script names run as a script, or
// prepends or appends a file to every script:
// - .htaccess: AddType / AddHandler of a script type for another extension, SetHandler or
//   ForceType of a script type outside a <Files>/<FilesMatch> of script names only,
//   php_value / php_admin_value auto_prepend_file or auto_append_file;
// - .user.ini: auto_prepend_file or auto_append_file;
// - web.config: an <add> whose path or extension is not a script name and which maps a script
//   processor, an ISAPI, FastCGI or CGI module, or a page, handler or service factory or build
//   provider.
bool ServerConfigRunsOtherNames(ServerConfigKind kind, const std::string& text);

// Whether an extension (without its dot, any case) is one the servers run as a script anyway.
bool IsScriptExtension(const std::string& extension);
