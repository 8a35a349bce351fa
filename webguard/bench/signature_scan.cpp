// Runs the stand-in library's signature set over files the way the checker does (read in
// pieces, every entry applied by one scan per file) and prints the suspicious ones, then
// "signatures N checked N suspicious M".
//   signature_scan [--ext php,inc] [--entries] PATH...
// --entries: every file with the numbers (from 0, in list order) of all the entries it matches,
// "entries PATH N N ...", each entry looked for on its own in both whole views (to tell which
// entries a file rests on; GBK character starts are not asked for).
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>

#include <unordered_map>

#include "posix_web_files.h"
#include "webguard/signature_set.h"
#include "webguard/views_scan.h"
#include "webguard/watch_types.h"

namespace {

const char* const kSignatures[] = {
#include "signatures.inc"
};

// Records every signature the matcher tells.
class CAllSink : public IMatchSink {
 public:
  explicit CAllSink(std::vector<char>* found) : m_found(*found) {}
  bool OnMatch(uint32_t signature) override {
    m_found[signature] = 1;
    return false;
  }

 private:
  std::vector<char>& m_found;
};

// The entries each file matches.
class CEntryFinder {
 public:
  explicit CEntryFinder(const std::vector<std::string>& entries) {
    CExtendedSignature extended;
    for (const std::string& entry : entries) {
      m_entries.emplace_back();
      CEntry& e = m_entries.back();
      if (entry[0] != kExtendedMark) {
        e.parts.push_back(Id(0, entry));
        continue;
      }
      if (!ParseExtendedSignature(entry, &extended)) continue;
      e.view = extended.bNormalised ? 1 : 0;
      e.window = extended.window;
      e.sizeGate = extended.sizeGate;
      for (const std::string& part : extended.parts) {
        e.texts.push_back(extended.bNormalised ? NormalisePart(part) : part);
        e.parts.push_back(Id(e.view, e.texts.back()));
      }
    }
    for (int v = 0; v < 2; ++v) m_matchers[v].Build(m_patterns[v]);
  }
  std::vector<size_t> Matching(const CScriptViews& views) const {
    std::vector<size_t> matching;
    const std::string* texts[] = {&views.bytes, &views.converted};
    std::vector<char> any(m_entries.size(), 0);
    for (const std::string* text : texts) {
      if (text->empty()) continue;
      const std::string normalised = NormaliseText(*text);
      const std::string* view[] = {text, &normalised};
      std::vector<char> found[2];
      for (int v = 0; v < 2; ++v) {
        found[v].assign(m_patterns[v].size(), 0);
        CAllSink sink(&found[v]);
        m_matchers[v].Scan(view[v]->data(), view[v]->size(), CharStarts::kEveryByte, sink);
      }
      for (size_t i = 0; i < m_entries.size(); ++i) {
        const CEntry& e = m_entries[i];
        if (any[i] || e.parts.empty()) continue;
        bool all = true;
        for (uint32_t id : e.parts) all = all && found[e.view][id];
        if (all && e.sizeGate) all = views.bytes.size() <= e.sizeGate;
        if (all && e.window) all = OccurInOrder(view[e.view]->data(), view[e.view]->size(), e.texts, e.window);
        any[i] = all;
      }
    }
    for (size_t i = 0; i < m_entries.size(); ++i) {
      if (any[i]) matching.push_back(i);
    }
    return matching;
  }

 private:
  struct CEntry {
    int view = 0;
    size_t window = 0;
    size_t sizeGate = 0;
    std::vector<uint32_t> parts;
    std::vector<std::string> texts;
  };
  uint32_t Id(int view, const std::string& pattern) {
    const auto found = m_known[view].emplace(pattern, static_cast<uint32_t>(m_patterns[view].size()));
    if (found.second) m_patterns[view].push_back(pattern);
    return found.first->second;
  }
  std::vector<CEntry> m_entries;
  std::vector<std::string> m_patterns[2];
  std::unordered_map<std::string, uint32_t> m_known[2];
  CSignatureMatcher m_matchers[2];
};

}  // namespace

int main(int argc, char** argv) {
  std::set<std::string> extensions;
  CSignatureSet set;
  set.Update(kSignatures, static_cast<int>(sizeof kSignatures / sizeof kSignatures[0]));
  CPosixWebFiles files;
  int checked = 0, suspicious = 0;
  std::vector<std::string> paths;
  bool entries = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--entries") == 0) {
      entries = true;
    } else if (std::strcmp(argv[i], "--ext") == 0 && i + 1 < argc) {
      std::stringstream list(argv[++i]);
      for (std::string e; std::getline(list, e, ',');) extensions.insert(e);
    } else {
      paths.push_back(argv[i]);
    }
  }
  if (entries) {
    const CEntryFinder finder(set.Signatures());
    for (const std::string& root : paths) {
      for (const std::string& path : FilesBelow(root)) {
        CScriptViews views;
        if (!ReadScriptViews(files, CWebFile{path, {}}, &views)) continue;
        std::printf("entries %s", path.c_str());
        for (size_t i : finder.Matching(views)) std::printf(" %zu", i);
        std::printf("\n");
      }
    }
    return 0;
  }
  for (const std::string& root : paths) {
    for (const std::string& path : FilesBelow(root)) {
      std::string extension;
      if (!extensions.empty() &&
          (!ExtensionOfPath(path, &extension) || !extensions.count(LowerGbk(extension)))) {
        continue;
      }
      ++checked;
      // As the checker reads: the converted view only where it differs from the bytes.
      CSignatureScan bytes = set.NewScan(), converted = set.NewScan();
      CViewsScan scan(bytes, converted);
      bool found = false;
      if (!ReadScriptText(files, CWebFile{path, {}}, [&](const CScriptViews& views) {
            found = scan.Feed(views);
            return !found;
          }, true)) {
        continue;
      }
      if (!found && !scan.Finish()) continue;
      ++suspicious;
      std::printf("suspicious %s\n", path.c_str());
    }
  }
  std::printf("signatures %zu checked %d suspicious %d\n", set.Signatures().size(), checked,
              suspicious);
  return 0;
}
