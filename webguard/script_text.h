#pragma once
// The content of a file as the check sees it, read in pieces, in two views that are both
// matched:
// - the bytes: every byte of the file (zero and Ctrl-Z bytes included) after a byte-order mark,
//   with each CR LF pair folded to LF (as the C library's text mode reads it). The mark is left
//   out, so it never pairs with the first character under the GBK character rule; interpreters
//   such as PHP print the mark and run what follows.
// - the converted text, in GBK (the code page of the signatures): UTF-16 or UTF-32 text marked
//   by its byte-order mark, or, without such a mark, the text read as UTF-8 for as long as it is
//   valid UTF-8, so that a UTF-8 character before a signature never swallows its first byte.
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
  // file ends; false when the file cannot be opened or a read fails.
  virtual bool ReadPieces(const CWebFile& file, const std::function<bool(const char*, size_t)>& sink) = 0;
  // The entries matching a pattern such as "C:\site\*.*", in the system's order; false when
  // the folder cannot be read.
  virtual bool Enumerate(const CWebFile& pattern, std::vector<CFolderEntry>* entries) = 0;
  // The UTF-16 form of an ANSI path.
  virtual std::u16string WidePath(const std::string& path) = 0;
  // Appends UTF-16 text converted to GBK (code page 936); what GBK cannot hold becomes "?".
  virtual void AppendGbk(const char16_t* units, size_t count, std::string* out) = 0;
  // The long form of a path that may hold short (8.3) names; empty when unknown.
  virtual CWebFile LongPath(const CWebFile&) { return CWebFile{}; }
  // What makes a folder the same folder however it is reached (volume and file number); empty
  // when unknown.
  virtual std::string FolderIdentity(const CWebFile&) { return std::string(); }
  // Whether the file is certainly not there (deleted or renamed away, its folder too); false
  // when it is, or when the system cannot tell (a locked file is there).
  virtual bool Missing(const CWebFile&) { return false; }
};

// The two views of a piece (see above).
struct CScriptViews {
  std::string bytes;
  std::string converted;
  // Left out by a decoder asked to (CScriptTextDecoder's sameViewLeftOut): the converted text of
  // this piece adds nothing to the bytes, so `converted` is empty. So far the file is ASCII
  // (both views are the same text), or its UTF-8 ended with ASCII only (already GBK: the
  // converted view is a beginning of the bytes).
  bool bConvertedIsBytes = false;
};

// Turns a file's bytes, piece by piece, into the texts that are matched.
class CScriptTextDecoder {
 public:
  // sameViewLeftOut: pieces whose converted text adds nothing to the bytes are not converted
  // (see CScriptViews::bConvertedIsBytes); the first piece where the views part is converted
  // whole, and every piece after it.
  explicit CScriptTextDecoder(IWebFileSystem& system, bool sameViewLeftOut = false)
      : m_system(system), m_bLeaveSameOut(sameViewLeftOut) {}
  // Appends the views of the next piece of the file (a few bytes may wait for the next).
  void Decode(const char* bytes, size_t size, CScriptViews* views);
  // Appends what is still waiting, at the end of the file.
  void Finish(CScriptViews* views);
  // The converted view holds text (a mark was found, or the text was valid UTF-8 so far).
  bool Converting() const { return m_form != Form::kBytes || m_bUtf8Valid; }
  // A UTF-16 or UTF-32 mark was found: the converted view is what the file means.
  bool Marked() const { return m_form != Form::kBytes && m_form != Form::kUndecided; }

 private:
  enum class Form { kUndecided, kBytes, kUtf16Le, kUtf16Be, kUtf32Le, kUtf32Be };
  // A CR LF folding of one view: a CR at the end of a piece waits for the next.
  struct CFolding {
    bool bPendingCr = false;
    void Fold(const char* bytes, size_t size, std::string* text);
    void Finish(std::string* text);
  };
  void DecideForm(CScriptViews* views, bool atEnd);
  void Convert(const unsigned char* bytes, size_t size, CScriptViews* views);
  void ConvertUtf8(const unsigned char* bytes, size_t size);
  void ConvertUnits(const unsigned char* bytes, size_t size);
  void PushCodePoint(uint32_t point);
  void Emit(CScriptViews* views);

  // The piece's converted text is left out when it adds nothing to the bytes (see above);
  // false once the views have parted.
  bool LeftOut(const char* bytes, size_t size, CScriptViews* views);

  IWebFileSystem& m_system;
  bool m_bLeaveSameOut = false;
  bool m_bSameSoFar = true;       // nothing but ASCII converted, nothing waiting
  bool m_bConvertedWide = false;  // a code point beyond ASCII was converted
  Form m_form = Form::kUndecided;
  std::string m_head;        // the first bytes, until they show the form
  std::string m_partial;     // an unfinished code unit or UTF-8 sequence
  uint32_t m_highSurrogate = 0;
  bool m_bUtf8Valid = true;  // without a mark: the text so far is valid UTF-8
  std::vector<char16_t> m_units;
  CFolding m_bytesFolding, m_convertedFolding;
};

// Reads the file and hands the views of each piece to sink until sink returns false; false when
// the file cannot be opened or read.
bool ReadScriptText(IWebFileSystem& files, const CWebFile& file,
                    const std::function<bool(const CScriptViews&)>& sink, bool sameViewLeftOut = false);

// Both whole views at once; false when the file cannot be opened or read (tools and tests).
bool ReadScriptViews(IWebFileSystem& files, const CWebFile& file, CScriptViews* views);

// The text that a marked file means (its converted view), or else its bytes; a single blank
// when the file cannot be opened (tools and tests).
std::string ReadScriptText(IWebFileSystem& files, const CWebFile& file);
