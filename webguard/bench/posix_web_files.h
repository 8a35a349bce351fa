#pragma once
// Files for the native tools: the same port as the program's, on POSIX paths.
#include "webguard/script_text.h"

class CPosixWebFiles : public IWebFileSystem {
 public:
  bool FileSize(const std::string& path, uint64_t* size) override;
  bool ReadRaw(const std::string& path, std::string* bytes) override;
  bool Enumerate(const std::string&, std::vector<CFolderEntry>*) override { return false; }
};

// Every regular file below a folder (or the path itself when it is a file).
std::vector<std::string> FilesBelow(const std::string& path);
