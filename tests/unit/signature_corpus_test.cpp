// The stand-in library's signature list as the checker uses it, against
// - the written shells of tests/data/webshells (variants of the techniques in letter case,
//   blanks, comments and concatenation, written apart from the list): every one found;
// - the public web shells of ../shared/corpus beside the checkout: at least kFoundPercent found
//   (the misses named, a table per language printed);
// - ordinary web applications (tests/data/benign, the Chinese applications of ../shared/corpus,
//   and the applications Debian ships, unpacked by scripts/fetch-debian-webapps.sh): nothing found.
// The shared corpus and Debian's applications must be there when CI is set; otherwise a test
// without them says so and is skipped.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "webguard/bench/posix_web_files.h"
#include "webguard/script_text.h"
#include "webguard/signature_rules.h"
#include "webguard/signature_set.h"
#include "webguard/text_normaliser.h"
#include "webguard/watch_types.h"

namespace {

const char* const kShippedSignatures[] = {
#include "signatures.inc"
};

const std::string kData = TAVRICK_TEST_DATA;
const std::string kSharedCorpus = TAVRICK_SHARED_CORPUS;
const std::string kCorpusWork = TAVRICK_CORPUS_WORK;
const std::string kDebianWebApps = TAVRICK_DEBIAN_WEBAPPS;
// The share of the public shells the list must find.
constexpr size_t kFoundPercent = 94;

struct CSample {
  std::string name, text;
};

const CSignatureSet& ShippedSet() {
  static CSignatureSet set;
  static const bool built = set.Update(kShippedSignatures, static_cast<int>(std::size(kShippedSignatures)));
  EXPECT_TRUE(built);
  return set;
}

std::string Text(const std::string& path) {
  CPosixWebFiles files;
  return ReadScriptText(files, CWebFile{path, {}});
}

bool Found(const std::string& path) {
  const std::string text = Text(path);
  return !text.empty() && ShippedSet().Matches(text);
}

bool InCi() {
  const char* ci = std::getenv("CI");
  return ci && *ci;
}

// Unpacks ../shared/corpus/NAME.tar.xz into the build folder once; "" when the corpus is absent.
std::string Unpacked(const std::string& name) {
  const std::string archive = kSharedCorpus + "/" + name + ".tar.xz";
  struct stat info {};
  if (stat(archive.c_str(), &info) != 0) return std::string();
  const std::string target = kCorpusWork + "/" + name;
  const std::string stamp = target + "/.unpacked-" + std::to_string(info.st_size);
  if (std::filesystem::exists(stamp)) return target;
  const std::string partial = target + ".partial";
  std::filesystem::remove_all(partial);
  std::filesystem::remove_all(target);
  std::filesystem::create_directories(partial);
  const std::string command = "tar -xJf '" + archive + "' -C '" + partial + "'";
  if (std::system(command.c_str()) != 0) return std::string();
  std::FILE* mark = std::fopen((partial + "/" + stamp.substr(target.size() + 1)).c_str(), "w");
  if (!mark) return std::string();
  std::fclose(mark);
  std::filesystem::rename(partial, target);
  return target;
}

// Files of the kinds a web site holds.
bool WebFile(const std::string& path) {
  static const std::set<std::string> kinds = {"php", "php3", "inc", "phtml", "js", "html", "htm", "asp",
                                              "asa", "cer", "aspx", "ashx", "asmx", "ascx", "jsp", "jspx"};
  std::string extension;
  return ExtensionOfPath(path, &extension) && kinds.count(LowerGbk(extension)) > 0;
}

// The language a shell's extension runs as.
std::string Language(const std::string& path) {
  static const std::map<std::string, std::string> languages = {
      {"php", "PHP"},   {"php3", "PHP"},  {"phtml", "PHP"}, {"asp", "ASP"},   {"asa", "ASP"},
      {"cer", "ASP"},   {"aspx", "ASPX"}, {"ashx", "ASPX"}, {"asmx", "ASPX"}, {"jsp", "JSP"},
      {"jspx", "JSP"}};
  std::string extension;
  if (!ExtensionOfPath(path, &extension)) return "other";
  const auto it = languages.find(LowerGbk(extension));
  return it == languages.end() ? "other" : it->second;
}

// Flagged web files below root, counting the files checked.
std::vector<std::string> FlaggedBelow(const std::string& root, size_t* checked) {
  std::vector<std::string> flagged;
  for (const std::string& path : FilesBelow(root)) {
    if (!WebFile(path)) continue;
    ++*checked;
    if (Found(path)) flagged.push_back(path);
  }
  return flagged;
}

// Whole files, except under one-liners/, where every line is a shell of its own.
std::vector<CSample> WrittenShells() {
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

TEST(SignatureCorpus, EveryWrittenShellIsFound) {
  const std::vector<CSample> shells = WrittenShells();
  ASSERT_GT(shells.size(), 150u);
  for (const CSample& shell : shells) {
    EXPECT_TRUE(ShippedSet().Matches(shell.text)) << "missed: " << shell.name;
  }
}

// An entry whose every part is under 8 bytes (normalised, for N) has the matcher search every
// file for byte pairs; a short part beside a long one is looked for only where the long occur.
TEST(SignatureCorpus, EveryEntryHasAPartOfEightBytes) {
  for (const char* entry : kShippedSignatures) {
    CExtendedSignature extended;
    if (*entry != kExtendedMark) {
      EXPECT_GE(std::strlen(entry), 8u) << entry;
    } else {
      ASSERT_TRUE(ParseExtendedSignature(entry, &extended)) << entry + 1;
      size_t longest = 0;
      for (const std::string& part : extended.parts) {
        longest = std::max(longest, (extended.bNormalised ? NormalisePart(part) : part).size());
      }
      EXPECT_GE(longest, 8u) << entry + 1;
    }
  }
}

TEST(SignatureCorpus, ShellsPaddedBeyondTenMegabytesAreFound) {
  const std::string padding(10240000, ' ');
  for (const char* name : {"oneline_post.php", "utf16le.aspx", "nul_first.php", "multiline_eval.php"}) {
    const std::string shell = Text(kData + "/webshells/" + name);
    CSignatureScan scan = ShippedSet().NewScan();
    for (size_t at = 0; at < padding.size(); at += kReadPieceSize) {
      scan.Feed(padding.data() + at, std::min(kReadPieceSize, padding.size() - at));
    }
    scan.Feed(shell.data(), shell.size());
    EXPECT_TRUE(scan.Finish()) << name;
  }
}

TEST(SignatureCorpus, ThePublicShellsAreFound) {
  const std::string root = Unpacked("webshells");
  if (root.empty()) {
    if (InCi()) FAIL() << "no web-shell corpus at " << kSharedCorpus << " (required when CI is set)";
    GTEST_SKIP() << "no web-shell corpus at " << kSharedCorpus << ": the public shells are not measured";
  }
  std::map<std::string, std::pair<size_t, size_t>> byLanguage;  // found, total
  std::vector<std::string> misses;
  size_t found = 0, total = 0;
  for (const std::string& path : FilesBelow(root)) {
    if (path.find("/.unpacked-") != std::string::npos) continue;
    const bool hit = Found(path);
    auto& counts = byLanguage[Language(path)];
    counts.first += hit;
    ++counts.second;
    found += hit;
    ++total;
    if (!hit) misses.push_back(std::filesystem::path(path).filename().string());
  }
  ASSERT_GT(total, 1000u);
  for (const std::string& miss : misses) std::printf("missed %s\n", miss.c_str());
  for (const auto& [language, counts] : byLanguage) {
    std::printf("%-5s found %zu of %zu (%.1f %%)\n", language.c_str(), counts.first, counts.second,
                100.0 * counts.first / counts.second);
  }
  std::printf("all   found %zu of %zu (%.1f %%)\n", found, total, 100.0 * found / total);
  EXPECT_GE(found * 100, total * kFoundPercent) << misses.size() << " shells missed, listed above";
}

TEST(SignatureCorpus, TheChineseApplicationsMatchNothing) {
  const std::string root = Unpacked("benign-cms");
  if (root.empty()) {
    if (InCi()) FAIL() << "no benign corpus at " << kSharedCorpus << " (required when CI is set)";
    GTEST_SKIP() << "no benign corpus at " << kSharedCorpus << ": the Chinese applications are not checked";
  }
  size_t checked = 0;
  const std::vector<std::string> flagged = FlaggedBelow(root, &checked);
  for (const std::string& path : flagged) ADD_FAILURE() << "flagged " << path;
  std::printf("Chinese applications: %zu files checked, %zu flagged\n", checked, flagged.size());
  EXPECT_GT(checked, 5000u);
}

TEST(SignatureCorpus, NoBenignFileMatches) {
  size_t checked = 0, flaggedCount = 0;
  // Every flagged file fails the test; the counts are printed whatever the outcome.
  auto check = [&](const std::string& root) {
    for (const std::string& path : FlaggedBelow(root, &checked)) {
      ADD_FAILURE() << "flagged " << path;
      ++flaggedCount;
    }
  };
  auto report = [&]() { std::printf("ordinary files: %zu checked, %zu flagged\n", checked, flaggedCount); };
  check(kData + "/benign");
  EXPECT_GE(checked, 12u);
  if (!std::filesystem::is_directory(kDebianWebApps + "/usr/share/wordpress")) {
    if (InCi()) FAIL() << "Debian's web applications are not unpacked at " << kDebianWebApps;
    std::printf("Debian's web applications are not unpacked at %s (scripts/fetch-debian-webapps.sh): "
                "only the committed files\n", kDebianWebApps.c_str());
    report();
    return;
  }
  const size_t before = checked;
  check(kDebianWebApps);
  EXPECT_GT(checked - before, 3000u);
  // Further applications (wikis, mail, monitoring, directory and mail admin tools, libraries).
  const std::string more = kDebianWebApps + "/../more";
  if (InCi() || std::filesystem::is_directory(more)) {
    const size_t applications = checked;
    check(more);
    EXPECT_GT(checked - applications, 10000u) << "further applications missing at " << more;
  }
  report();
  RecordProperty("benign_files", static_cast<int>(checked));
}

}  // namespace
