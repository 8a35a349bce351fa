// The stand-in library's signature list against the detection corpus (tests/data/webshells:
// every shell found, every signature finding one) and the benign corpus (tests/data/benign and
// the PHP applications Debian ships, when installed: nothing found), read the way the checker
// reads files. The matcher's answer is compared with the per-signature reference throughout.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "webguard/bench/posix_web_files.h"
#include "webguard/script_text.h"
#include "webguard/signature_set.h"
#include "webguard/watch_types.h"

namespace {

const char* const kShippedSignatures[] = {
#include "signatures.inc"
};

const std::string kData = TAVRICK_TEST_DATA;

struct CSample {
  std::string name, text;
};

std::vector<std::string> Signatures() {
  return EffectiveSignatures(kShippedSignatures, static_cast<int>(std::size(kShippedSignatures)));
}

std::string Text(const std::string& path) {
  CPosixWebFiles files;
  return ReadScriptText(files, CWebFile{path, {}});
}

// Whole files, except under one-liners/, where every line is a shell of its own.
std::vector<CSample> Shells() {
  std::vector<CSample> shells;
  for (const std::string& path : FilesBelow(kData + "/webshells")) {
    if (path.size() >= 9 && path.compare(path.size() - 9, 9, "README.md") == 0) continue;
    const std::string text = Text(path);
    if (path.find("/one-liners/") == std::string::npos) {
      shells.push_back({path, text});
      continue;
    }
    size_t start = 0, number = 1;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1, ++number) {
      if (end > start) shells.push_back({path + ":" + std::to_string(number), text.substr(start, end - start)});
    }
  }
  return shells;
}

// The first signature the reference finds, or "".
std::string FirstMatch(const std::vector<std::string>& signatures, const std::string& text) {
  for (const std::string& s : signatures) {
    if (OccursAtCharStart(text.data(), text.size(), s)) return s;
  }
  return std::string();
}

TEST(SignatureCorpus, EveryShellIsFoundAndEverySignatureFindsOne) {
  const std::vector<std::string> signatures = Signatures();
  CSignatureMatcher matcher;
  ASSERT_TRUE(matcher.Build(signatures));
  const std::vector<CSample> shells = Shells();
  ASSERT_GT(shells.size(), 200u);
  std::set<std::string> unused(signatures.begin(), signatures.end());
  for (const CSample& shell : shells) {
    const std::string hit = FirstMatch(signatures, shell.text);
    EXPECT_FALSE(hit.empty()) << "missed: " << shell.name;
    EXPECT_EQ(!hit.empty(), matcher.Matches(shell.text.data(), shell.text.size())) << shell.name;
    for (auto it = unused.begin(); it != unused.end();) {
      it = OccursAtCharStart(shell.text.data(), shell.text.size(), *it) ? unused.erase(it) : std::next(it);
    }
  }
  for (const std::string& s : unused) ADD_FAILURE() << "no shell for the signature " << s;
}

TEST(SignatureCorpus, ShellsPaddedBeyondTenMegabytesAreFound) {
  CSignatureMatcher matcher;
  ASSERT_TRUE(matcher.Build(Signatures()));
  const std::string padding(10240000, ' ');
  for (const char* name : {"oneline_post.php", "utf16le.aspx", "nul_first.php"}) {
    const std::string shell = Text(kData + "/webshells/" + name);
    CMatchStream stream(matcher);
    for (size_t at = 0; at < padding.size(); at += kReadPieceSize) {
      stream.Feed(padding.data() + at, std::min(kReadPieceSize, padding.size() - at));
    }
    stream.Feed(shell.data(), shell.size());
    EXPECT_TRUE(stream.Found()) << name;
  }
}

// Files of the kinds a web site holds.
bool WebFile(const std::string& path) {
  static const std::set<std::string> kinds = {"php", "inc", "phtml", "js", "html", "htm",
                                              "asp", "asa", "aspx", "jsp"};
  std::string extension;
  return ExtensionOfPath(path, &extension) && kinds.count(LowerGbk(extension)) > 0;
}

TEST(SignatureCorpus, NoBenignFileMatches) {
  const std::vector<std::string> signatures = Signatures();
  CSignatureMatcher matcher;
  ASSERT_TRUE(matcher.Build(signatures));
  size_t checked = 0;
  auto check = [&](const std::string& root) {
    for (const std::string& path : FilesBelow(root)) {
      if (!WebFile(path)) continue;
      ++checked;
      const std::string text = Text(path);
      const bool found = matcher.Matches(text.data(), text.size());
      if (found || path.find(kData) == 0) {
        // The reference agrees; on a match it names the signature.
        const std::string hit = FirstMatch(signatures, text);
        EXPECT_EQ(!hit.empty(), found) << path;
        EXPECT_TRUE(hit.empty()) << path << " matches " << hit;
      }
    }
  };
  check(kData + "/benign");
  EXPECT_GE(checked, 12u);
  size_t debian = 0;
  for (const char* root : {"/usr/share/wordpress", "/usr/share/phpmyadmin", "/usr/share/php"}) {
    if (!std::filesystem::is_directory(root)) continue;
    const size_t before = checked;
    check(root);
    debian += checked - before;
  }
  if (debian == 0) std::printf("Debian's wordpress and phpmyadmin are not installed: only the committed files\n");
  RecordProperty("benign_files", static_cast<int>(checked));
}

}  // namespace
