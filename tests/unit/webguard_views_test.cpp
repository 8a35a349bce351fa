// A file that is ASCII (or already GBK) is scanned once: the converted view is left out where
// it adds nothing to the bytes, and the result is the same as with both views scanned whole.
#include <gtest/gtest.h>

#include <map>

#include "webguard/bench/posix_web_files.h"
#include "webguard/script_text.h"
#include "webguard/signature_set.h"
#include "webguard/views_scan.h"

namespace {

class CPieceFiles : public IWebFileSystem {
 public:
  std::map<std::string, std::string> files;
  size_t pieceSize = 6;
  bool ReadPieces(const CWebFile& file, const std::function<bool(const char*, size_t)>& sink) override {
    auto it = files.find(file.strPath);
    if (it == files.end()) return false;
    for (size_t at = 0; at < it->second.size(); at += pieceSize) {
      if (!sink(it->second.data() + at, std::min(pieceSize, it->second.size() - at))) break;
    }
    return true;
  }
  bool Enumerate(const CWebFile&, std::vector<CFolderEntry>*) override { return false; }
  std::u16string WidePath(const std::string& path) override { return std::u16string(path.begin(), path.end()); }
  void AppendGbk(const char16_t* units, size_t count, std::string* out) override {
    ++conversions;
    CPosixWebFiles().AppendGbk(units, count, out);
  }
  int conversions = 0;
};

struct CLeftOut {
  std::string bytes, converted;
  size_t leftOut = 0, pieces = 0;
};

CLeftOut ReadLeavingOut(CPieceFiles& files, const std::string& path) {
  CLeftOut out;
  EXPECT_TRUE(ReadScriptText(files, CWebFile{path, {}}, [&](const CScriptViews& views) {
    out.bytes += views.bytes;
    out.converted += views.bConvertedIsBytes ? views.bytes : views.converted;
    out.leftOut += views.bConvertedIsBytes;
    ++out.pieces;
    return true;
  }, true));
  return out;
}

TEST(WebguardViews, AnAsciiOrGbkFileIsNotConvertedAndAUtf8OneIsFromWhereTheViewsPart) {
  CPieceFiles files;
  files.files["ascii.php"] = "<?php\r\necho 'hello';\r\n// every byte below 0x80\r\n";
  files.files["gbk.php"] = "<?php echo '\xC4\xE3\xBA\xC3'; // GBK\r\n";
  files.files["utf8.php"] = "<?php echo 'plain ascii first'; echo '\xE4\xBD\xA0\xE5\xA5\xBD';\r\n";
  files.files["mark.php"] = "\xEF\xBB\xBF<?php echo 1;\r\n";

  CLeftOut ascii = ReadLeavingOut(files, "ascii.php");
  EXPECT_EQ(0, files.conversions);
  EXPECT_EQ(ascii.pieces, ascii.leftOut);
  CScriptViews whole;
  ASSERT_TRUE(ReadScriptViews(files, CWebFile{"ascii.php", {}}, &whole));
  EXPECT_EQ(whole.bytes, ascii.bytes);
  EXPECT_EQ(whole.converted, ascii.converted);

  files.conversions = 0;
  CLeftOut gbk = ReadLeavingOut(files, "gbk.php");
  EXPECT_EQ(gbk.pieces, gbk.leftOut);
  EXPECT_LE(files.conversions, 1);  // the piece where UTF-8 ends
  CLeftOut mark = ReadLeavingOut(files, "mark.php");
  EXPECT_EQ(mark.pieces, mark.leftOut);

  // Converted whole from the piece where a UTF-8 character begins: the same text as before.
  CLeftOut utf8 = ReadLeavingOut(files, "utf8.php");
  EXPECT_GT(utf8.leftOut, 0u);
  EXPECT_LT(utf8.leftOut, utf8.pieces);
  ASSERT_TRUE(ReadScriptViews(files, CWebFile{"utf8.php", {}}, &(whole = CScriptViews())));
  EXPECT_EQ(whole.converted, utf8.converted);
  EXPECT_NE(std::string::npos, utf8.converted.find("\xC4\xE3\xBA\xC3"));
}

bool ScanLeavingOut(CPieceFiles& files, const std::string& path, CSignatureSet& bytesSet, CSignatureSet& convertedSet) {
  CSignatureScan bytes = bytesSet.NewScan(), converted = convertedSet.NewScan();
  CViewsScan scan(bytes, converted);
  scan.Restart();
  bool found = false;
  EXPECT_TRUE(ReadScriptText(files, CWebFile{path, {}}, [&](const CScriptViews& views) {
    found = found || scan.Feed(views);
    return true;
  }, true));
  return found || scan.Finish();
}

TEST(WebguardViews, TheConvertedScanRunsOnlyWhereTheViewsDifferAndMissesNothing) {
  CPieceFiles files;
  // The converted scan alone knows the signatures here, so what it is fed shows.
  CSignatureSet none, some;
  const char* const nothing[] = {"\x01\x4e\x02zzzzzzzzzzzz"};
  none.Update(nothing, 1);
  const char* const entries[] = {"eval($_POST[", "\xC4\xE3\xBA\xC3\xCA\xC0\xBD\xE7",
                                 "\x01\x4e\x02system($_get[\x02\xC4\xE3\xBA\xC3"};
  some.Update(entries, 3);
  // ASCII throughout: scanned once (the bytes scan only).
  files.files["a.php"] = "<?php eval($_POST['x']); ?>";
  EXPECT_FALSE(ScanLeavingOut(files, "a.php", none, some));
  EXPECT_TRUE(ScanLeavingOut(files, "a.php", some, some));
  // The views part after the signature: what was held back is scanned as converted text too.
  files.files["b.php"] = "<?php eval($_POST['x']); echo '\xE4\xBD\xA0';";
  EXPECT_TRUE(ScanLeavingOut(files, "b.php", none, some));
  // A signature in the converted view only, and a conjunction across the parting.
  files.files["c.php"] = "<?php echo '\xE4\xBD\xA0\xE5\xA5\xBD\xE4\xB8\x96\xE7\x95\x8C';";
  EXPECT_TRUE(ScanLeavingOut(files, "c.php", none, some));
  files.files["d.php"] = "<?php system($_GET['c']); ................ echo '\xE4\xBD\xA0\xE5\xA5\xBD';";
  for (size_t piece : {size_t{3}, size_t{6}, size_t{64}}) {
    files.pieceSize = piece;
    EXPECT_TRUE(ScanLeavingOut(files, "d.php", none, some)) << piece;
  }
  // Clean stays clean.
  files.files["e.php"] = "<?php echo '\xE4\xBD\xA0'; // ok";
  EXPECT_FALSE(ScanLeavingOut(files, "e.php", some, some));
}

}  // namespace
