// The website protection's signature check against Hyperscan (literal mode) and grep -F on the
// same files and the same signature lists, one table:
//   matcher_compare FILE_LIST WORK_FOLDER
// FILE_LIST names the corpus files, one a line. Each file is checked on its own, as the checker
// does: ours with one CSignatureScan per file fed in the checker's pieces (raw text and
// normalised view); Hyperscan scans the raw text and the normalised view (made by our
// normaliser, whose time counts for it too) of each file with the same literals, and the file's
// answer is worked out from what it reports, so both do the whole job. Scans run on one core
// over the files in memory, best of several runs, timed by the CPU time they use (the machine
// may be shared); grep runs as a whole process over the files put together, with every literal
// of both views (it reads the files and builds its automaton each time), and is timed by its
// CPU time too. Ratios are ours / Hyperscan. Each list is also planted into a piece of the
// corpus (a plain signature, and an N entry written loosely), which ours and Hyperscan must
// then report.
#include <hs/hs.h>
#include <malloc.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench_signatures.h"
#include "webguard/script_text.h"
#include "webguard/signature_rules.h"
#include "webguard/text_normaliser.h"

namespace {

constexpr int kRuns = 5;

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

double ChildSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double BestOf(int runs, const std::function<void()>& body, double (*clock)() = ThreadSeconds) {
  double best = 1e30;
  for (int r = 0; r < runs; ++r) {
    const double start = clock();
    body();
    best = std::min(best, clock() - start);
  }
  return best;
}

size_t HeapInUse() { return mallinfo2().uordblks; }
double Mb(size_t bytes) { return bytes / 1e6; }

// The corpus: every file back to back, and where each begins.
struct CCorpus {
  std::string text;
  std::vector<size_t> start;  // file i: text[start[i] .. start[i + 1])
  size_t Files() const { return start.size() - 1; }
};

struct CRow {
  std::string set, engine;
  double buildSeconds = -1, memoryMb = -1, mbPerSecond = 0;
  int flagged = 0;
  bool plantedFound = false;
};

// The lists' literals by view, with what finding each means (the rules' own reading, redone
// here for Hyperscan and grep).
struct CLiterals {
  std::vector<std::string> patterns[CSignatureRules::kViews];
  std::vector<std::vector<uint32_t>> uses[CSignatureRules::kViews];  // ~0u: plain; else conjunction * 8 + part
  std::vector<uint8_t> required;

  explicit CLiterals(const std::vector<std::string>& entries) {
    std::unordered_map<std::string, uint32_t> known[CSignatureRules::kViews];
    auto add = [&](int view, const std::string& pattern, uint32_t use) {
      auto found = known[view].emplace(pattern, static_cast<uint32_t>(patterns[view].size()));
      if (found.second) {
        patterns[view].push_back(pattern);
        uses[view].emplace_back();
      }
      uses[view][found.first->second].push_back(use);
    };
    for (const std::string& entry : entries) {
      CExtendedSignature extended;
      if (entry[0] != kExtendedMark) {
        add(CSignatureRules::kRaw, entry, ~0u);
      } else if (ParseExtendedSignature(entry, &extended)) {
        const uint32_t conjunction = static_cast<uint32_t>(required.size());
        required.push_back(static_cast<uint8_t>((1u << extended.parts.size()) - 1));
        for (size_t k = 0; k < extended.parts.size(); ++k) {
          add(extended.bNormalised ? CSignatureRules::kNormalised : CSignatureRules::kRaw,
              extended.bNormalised ? NormaliseText(extended.parts[k]) : extended.parts[k],
              conjunction * 8 + static_cast<uint32_t>(k));
        }
      }
    }
  }
};

int ScanCorpus(const CSignatureRules& rules, const CCorpus& corpus) {
  int flagged = 0;
  CSignatureScan scan(rules);
  for (size_t i = 0; i < corpus.Files(); ++i) {
    flagged += ScanFile(scan, corpus.text.data() + corpus.start[i], corpus.start[i + 1] - corpus.start[i]);
  }
  return flagged;
}

CRow Ours(const std::string& name, const std::vector<std::string>& entries, const CCorpus& corpus,
          const std::vector<std::string>& planted) {
  CRow row{name, "this matcher"};
  const size_t before = HeapInUse();
  CSignatureRules rules;
  const double start = ThreadSeconds();
  if (!rules.Build(entries)) {
    std::fprintf(stderr, "build refused\n");
    std::exit(1);
  }
  row.buildSeconds = ThreadSeconds() - start;
  // Everything it builds, the automata it builds only on need included.
  const size_t counted = rules.MemoryBytesWithAutomata();
  row.memoryMb = Mb(std::max(counted, HeapInUse() - before));
  const double seconds = BestOf(kRuns, [&] { row.flagged = ScanCorpus(rules, corpus); });
  row.mbPerSecond = Mb(corpus.text.size()) / seconds;
  row.plantedFound = true;
  CSignatureScan scan(rules);
  for (const std::string& text : planted) row.plantedFound &= ScanFile(scan, text.data(), text.size());
  return row;
}

class CHyperscan {
 public:
  explicit CHyperscan(const CLiterals& literals) : m_literals(literals) {
    for (int v = 0; v < CSignatureRules::kViews; ++v) Compile(v);
  }
  ~CHyperscan() {
    for (int v = 0; v < CSignatureRules::kViews; ++v) {
      hs_free_scratch(m_scratch[v]);
      hs_free_database(m_database[v]);
    }
  }
  size_t MemoryBytes() const {
    size_t total = 0;
    for (int v = 0; v < CSignatureRules::kViews; ++v) {
      size_t database = 0, scratch = 0;
      if (m_database[v]) hs_database_size(m_database[v], &database);
      if (m_scratch[v]) hs_scratch_size(m_scratch[v], &scratch);
      total += database + scratch;
    }
    return total;
  }
  bool Matches(const char* text, size_t size) {
    m_seen[0].assign(m_literals.patterns[0].size(), 0);
    m_seen[1].assign(m_literals.patterns[1].size(), 0);
    m_found = false;
    m_view = CSignatureRules::kRaw;
    if (m_database[0]) hs_scan(m_database[0], text, static_cast<unsigned>(size), 0, m_scratch[0], OnMatch, this);
    if (!m_found && m_database[1]) {
      m_view = CSignatureRules::kNormalised;
      const std::string view = NormaliseText(text, size);
      hs_scan(m_database[1], view.data(), static_cast<unsigned>(view.size()), 0, m_scratch[1], OnMatch, this);
    }
    if (m_found) return true;
    std::vector<uint8_t> parts(m_literals.required.size(), 0);
    for (int v = 0; v < CSignatureRules::kViews; ++v) {
      for (size_t p = 0; p < m_seen[v].size(); ++p) {
        if (!m_seen[v][p]) continue;
        for (uint32_t use : m_literals.uses[v][p]) parts[use / 8] |= static_cast<uint8_t>(1u << (use % 8));
      }
    }
    for (size_t c = 0; c < parts.size(); ++c) {
      if (parts[c] == m_literals.required[c]) return true;
    }
    return false;
  }

 private:
  static int OnMatch(unsigned id, unsigned long long, unsigned long long, unsigned, void* context) {
    auto* self = static_cast<CHyperscan*>(context);
    self->m_seen[self->m_view][id] = 1;
    const auto& uses = self->m_literals.uses[self->m_view][id];
    self->m_found |= std::find(uses.begin(), uses.end(), ~0u) != uses.end();
    return self->m_found ? 1 : 0;
  }
  void Compile(int v) {
    const std::vector<std::string>& patterns = m_literals.patterns[v];
    if (patterns.empty()) return;
    std::vector<const char*> expressions;
    std::vector<size_t> lengths;
    std::vector<unsigned> flags(patterns.size(), HS_FLAG_SINGLEMATCH), ids(patterns.size());
    for (size_t i = 0; i < patterns.size(); ++i) {
      expressions.push_back(patterns[i].data());
      lengths.push_back(patterns[i].size());
      ids[i] = static_cast<unsigned>(i);
    }
    hs_compile_error_t* error = nullptr;
    if (hs_compile_lit_multi(expressions.data(), flags.data(), ids.data(), lengths.data(),
                             static_cast<unsigned>(patterns.size()), HS_MODE_BLOCK, nullptr, &m_database[v],
                             &error) != HS_SUCCESS) {
      std::fprintf(stderr, "hyperscan: %s\n", error->message);
      std::exit(1);
    }
    hs_alloc_scratch(m_database[v], &m_scratch[v]);
  }

  const CLiterals& m_literals;
  hs_database_t* m_database[CSignatureRules::kViews] = {};
  hs_scratch_t* m_scratch[CSignatureRules::kViews] = {};
  std::vector<uint8_t> m_seen[CSignatureRules::kViews];
  int m_view = 0;
  bool m_found = false;
};

CRow Hyperscan(const std::string& name, const CLiterals& literals, const CCorpus& corpus,
               const std::vector<std::string>& planted) {
  CRow row{name, "Hyperscan (literal) + our normaliser"};
  const double start = ThreadSeconds();
  CHyperscan hyperscan(literals);
  row.buildSeconds = ThreadSeconds() - start;
  row.memoryMb = Mb(hyperscan.MemoryBytes());
  const double seconds = BestOf(kRuns, [&] {
    row.flagged = 0;
    for (size_t i = 0; i < corpus.Files(); ++i) {
      row.flagged += hyperscan.Matches(corpus.text.data() + corpus.start[i], corpus.start[i + 1] - corpus.start[i]);
    }
  });
  row.mbPerSecond = Mb(corpus.text.size()) / seconds;
  row.plantedFound = true;
  for (const std::string& text : planted) row.plantedFound &= hyperscan.Matches(text.data(), text.size());
  return row;
}

CRow Grep(const std::string& name, const CLiterals& literals, const std::string& corpusPath, size_t corpusSize,
          const std::string& planted, const std::string& folder) {
  CRow row{name, "grep -F (whole process, literals of both views)"};
  const std::string list = folder + "/literals-" + std::to_string(literals.patterns[0].size()) + ".txt";
  {
    std::ofstream out(list, std::ios::binary);
    for (const auto& view : literals.patterns) {
      for (const std::string& s : view) out << s << '\n';
    }
  }
  const std::string command = "LC_ALL=C grep -F -q -f '" + list + "' '" + corpusPath + "'";
  const double seconds = BestOf(kRuns, [&] { std::system(command.c_str()); }, ChildSeconds);
  row.flagged = -1;
  row.mbPerSecond = Mb(corpusSize) / seconds;
  const std::string plantedPath = folder + "/planted.txt";
  std::ofstream(plantedPath, std::ios::binary) << planted;
  row.plantedFound = std::system(("LC_ALL=C grep -F -q -f '" + list + "' '" + plantedPath + "'").c_str()) == 0;
  return row;
}

void Print(const std::vector<CRow>& rows, size_t files) {
  std::printf("| list | engine | build s | memory MB | scan MB/s | ours / Hyperscan | files flagged of %zu |\n", files);
  std::printf("|---|---|---|---|---|---|---|\n");
  for (const CRow& row : rows) {
    double hyperscan = 0;
    for (const CRow& other : rows) {
      if (other.set == row.set && other.engine.rfind("Hyperscan", 0) == 0) hyperscan = other.mbPerSecond;
    }
    char build[32] = "-", memory[32] = "-", ratio[32] = "", flagged[32] = "-";
    if (row.buildSeconds >= 0) std::snprintf(build, sizeof build, "%.3f", row.buildSeconds);
    if (row.memoryMb >= 0) std::snprintf(memory, sizeof memory, "%.1f", row.memoryMb);
    if (row.engine == "this matcher" && hyperscan > 0) {
      std::snprintf(ratio, sizeof ratio, "%.2f", row.mbPerSecond / hyperscan);
    }
    if (row.flagged >= 0) std::snprintf(flagged, sizeof flagged, "%d", row.flagged);
    std::printf("| %s | %s | %s | %s | %.0f | %s | %s |\n", row.set.c_str(), row.engine.c_str(), build, memory,
                row.mbPerSecond, ratio, flagged);
  }
}

CCorpus ReadCorpus(const std::string& listPath) {
  CCorpus corpus;
  std::ifstream list(listPath);
  corpus.start.push_back(0);
  for (std::string path; std::getline(list, path);) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    corpus.text += content.str();
    corpus.start.push_back(corpus.text.size());
  }
  return corpus;
}

// A loose spelling of an entry's first part for the normalised view: capitals and blanks.
std::string Loosely(const std::string& part) {
  std::string loose;
  for (char c : part) {
    loose += c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    loose += ' ';
  }
  return loose;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FILE_LIST WORK_FOLDER\n", argv[0]);
    return 2;
  }
  const CCorpus corpus = ReadCorpus(argv[1]);
  if (corpus.text.empty()) {
    std::fprintf(stderr, "empty corpus %s\n", argv[1]);
    return 2;
  }
  const std::string corpusPath = std::string(argv[2]) + "/corpus.bin";
  std::ofstream(corpusPath, std::ios::binary) << corpus.text;
  std::printf("corpus: %zu files, %.1f MB\n\n", corpus.Files(), Mb(corpus.text.size()));
  const std::vector<std::string> shipped = ShippedWithExtended();
  const size_t plain = ShippedSignatures().size();
  const struct {
    std::string name;
    std::vector<std::string> entries;
  } sets[] = {{"shipped " + std::to_string(plain) + " + " + std::to_string(shipped.size() - plain) + " extended", shipped},
              {"100,000 synthetic (1 in 10 extended)", SyntheticEntries()}};
  std::vector<CRow> rows;
  bool sound = true;
  for (const auto& set : sets) {
    const CLiterals literals(set.entries);
    // A piece of the corpus with one plain signature in it (after a line end, so that it
    // begins a character), and one with every part of an N entry, loosely written.
    const std::string piece = corpus.text.substr(0, 1 << 20) + "\n";
    std::string plain;
    for (const std::string& entry : set.entries) {
      if (entry[0] != kExtendedMark && plain.empty()) plain = entry;
    }
    std::vector<std::string> planted = {piece + plain + "\n"};
    for (const std::string& entry : set.entries) {
      CExtendedSignature signature;
      if (!ParseExtendedSignature(entry, &signature) || !signature.bNormalised) continue;
      std::string text = piece;
      for (const std::string& part : signature.parts) text += Loosely(part) + "\n";
      planted.push_back(text);
      break;
    }
    rows.push_back(Ours(set.name, set.entries, corpus, planted));
    rows.push_back(Hyperscan(set.name, literals, corpus, planted));
    rows.push_back(Grep(set.name, literals, corpusPath, corpus.text.size(), planted[0], argv[2]));
    const CRow& ours = rows[rows.size() - 3];
    const CRow& hyperscan = rows[rows.size() - 2];
    if (ours.flagged != hyperscan.flagged) {
      std::printf("%s: ours flags %d files, Hyperscan %d\n", set.name.c_str(), ours.flagged, hyperscan.flagged);
      sound = false;
    }
    for (size_t r = rows.size() - 3; r < rows.size(); ++r) {
      if (!rows[r].plantedFound) {
        std::printf("%s on %s: planted signature missed\n", rows[r].engine.c_str(), set.name.c_str());
        sound = false;
      }
    }
  }
  Print(rows, corpus.Files());
  return sound ? 0 : 1;
}
