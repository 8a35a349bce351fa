#pragma once
// The content of a file as the check sees it: what the C library delivers in text mode.
#include <cstdint>
#include <string>
#include <vector>

#include "common/folder_entry.h"

// A file of this many bytes or more is not read.
constexpr uint64_t kScriptSizeLimit = 10240000;

// Files as the checker and the folder scan reach them.
class IWebFileSystem {
 public:
  virtual ~IWebFileSystem() = default;
  // The file's size, found by seeking to its end; false when it cannot be opened.
  virtual bool FileSize(const std::string& path, uint64_t* size) = 0;
  // The file's bytes as stored; false when it cannot be opened or read.
  virtual bool ReadRaw(const std::string& path, std::string* bytes) = 0;
  // The entries matching a pattern such as "C:\site\*.*", in the system's order; false when
  // the folder cannot be read.
  virtual bool Enumerate(const std::string& pattern, std::vector<CFolderEntry>* entries) = 0;
};

// Text-mode translation: each CR LF pair becomes LF, a Ctrl-Z byte ends the text, and the
// result is cut at its first zero byte.
std::string TextModeContent(const std::string& raw);

// The content checked for signatures: a single blank when the file cannot be opened or is
// too large, otherwise its text-mode content (possibly empty).
std::string ReadScriptText(IWebFileSystem& files, const std::string& path);
