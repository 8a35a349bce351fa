#pragma once
// The content of a file as the check sees it: every byte of the file, read in pieces, with each
// CR LF pair folded to LF (as the C library's text mode reads it) and UTF-16 text (marked by its
// byte-order mark) converted to GBK, the code page of the signatures.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/folder_entry.h"

// A file or folder as the website protection reaches it: the path in the ANSI code page, shown
// to the administrator, and, where the system named it, the UTF-16 path it is opened by (a name
// with characters outside the code page has no usable ANSI form).
struct CWebFile {
  std::string strPath;
  std::u16string wstrPath;
};

// Pieces in which files are read.
constexpr size_t kReadPieceSize = size_t{1} << 20;

// Files as the checker, the folder scan and the watcher reach them, and the system's text
// conversions.
class IWebFileSystem {
 public:
  virtual ~IWebFileSystem() = default;
  // Reads the file from its start, handing each piece to sink until sink returns false or the
  // file ends; false when the file cannot be opened.
  virtual bool ReadPieces(const CWebFile& file, const std::function<bool(const char*, size_t)>& sink) = 0;
  // The entries matching a pattern such as "C:\site\*.*", in the system's order; false when
  // the folder cannot be read.
  virtual bool Enumerate(const CWebFile& pattern, std::vector<CFolderEntry>* entries) = 0;
  // The UTF-16 form of an ANSI path.
  virtual std::u16string WidePath(const std::string& path) = 0;
  // Appends UTF-16 text converted to GBK (code page 936); what GBK cannot hold becomes "?".
  virtual void AppendGbk(const char16_t* units, size_t count, std::string* out) = 0;
};

// Turns a file's bytes, piece by piece, into the text that is matched.
class CScriptTextDecoder {
 public:
  explicit CScriptTextDecoder(IWebFileSystem& system) : m_system(system) {}
  // Appends the text of the next piece of the file to *text (a few bytes may wait for the next).
  void Decode(const char* bytes, size_t size, std::string* text);
  // Appends what is still waiting, at the end of the file.
  void Finish(std::string* text);

 private:
  enum class Form { kUndecided, kBytes, kUtf16Le, kUtf16Be };
  void DecodeUtf16(const unsigned char* bytes, size_t size, std::string* text);
  void Fold(const char* bytes, size_t size, std::string* text);

  IWebFileSystem& m_system;
  Form m_form = Form::kUndecided;
  std::string m_head;           // the first byte, until the second shows the form
  int m_oddByte = -1;           // a UTF-16 unit's first byte, waiting for its second
  char16_t m_highSurrogate = 0; // the first half of a pair, waiting for its second
  bool m_bPendingCr = false;    // a CR at the end of the text so far
  std::vector<char16_t> m_units;
};

// Reads the file and hands its text to sink in pieces until sink returns false; false when
// the file cannot be opened.
bool ReadScriptText(IWebFileSystem& files, const CWebFile& file,
                    const std::function<bool(const std::string&)>& sink);

// The whole text at once: a single blank when the file cannot be opened (tools and tests).
std::string ReadScriptText(IWebFileSystem& files, const CWebFile& file);
