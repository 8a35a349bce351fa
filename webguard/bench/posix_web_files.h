#pragma once
// Files for the native tools and tests: the same port as the program's, on POSIX paths (the
// ANSI path is used as it is), with glibc's iconv for the GBK conversion.
#include "webguard/script_text.h"

class CPosixWebFiles : public IWebFileSystem {
 public:
  bool ReadPieces(const CWebFile& file, const std::function<bool(const char*, size_t)>& sink) override;
  bool Enumerate(const CWebFile&, std::vector<CFolderEntry>*) override { return false; }
  std::u16string WidePath(const std::string&) override { return std::u16string(); }
  void AppendGbk(const char16_t* units, size_t count, std::string* out) override;
};

// Every regular file below a folder (or the path itself when it is a file).
std::vector<std::string> FilesBelow(const std::string& path);
