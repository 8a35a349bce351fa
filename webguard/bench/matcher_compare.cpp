// The website protection's signature matcher against Hyperscan (literal mode) and grep -F on
// the same corpus and the same signature sets, one table:
//   matcher_compare CORPUS WORK_FOLDER
// Scans run on one core over the corpus in memory, best of several runs, timed by the CPU time
// they use (the machine may be shared); grep runs as a whole process (it reads the files and
// builds its automaton each time) and is timed by its CPU time too. Ratios are ours / Hyperscan.
// Each set is also planted into a piece of the corpus, which every engine must then report.
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
#include <vector>

#include "bench_signatures.h"
#include "webguard/signature_matcher.h"

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

struct CRow {
  std::string set, engine;
  double buildSeconds = -1, memoryMb = -1, mbPerSecond = 0;
  bool found = false, plantedFound = false;
};

double Mb(size_t bytes) { return bytes / 1e6; }

CRow Ours(const std::string& name, const std::vector<std::string>& signatures, const std::string& corpus,
         const std::string& planted) {
  CRow row{name, "this matcher"};
  CSignatureMatcher matcher;
  const size_t before = HeapInUse();
  const double start = ThreadSeconds();
  if (!matcher.Build(signatures)) {
    std::fprintf(stderr, "build refused\n");
    std::exit(1);
  }
  row.buildSeconds = ThreadSeconds() - start;
  row.memoryMb = Mb(HeapInUse() - before);
  const double seconds = BestOf(kRuns, [&] { row.found = matcher.Matches(corpus.data(), corpus.size()); });
  row.mbPerSecond = Mb(corpus.size()) / seconds;
  row.plantedFound = matcher.Matches(planted.data(), planted.size());
  return row;
}

int StopAtFirst(unsigned, unsigned long long, unsigned long long, unsigned, void* found) {
  *static_cast<bool*>(found) = true;
  return 1;
}

CRow Hyperscan(const std::string& name, const std::vector<std::string>& signatures, const std::string& corpus,
               const std::string& planted) {
  CRow row{name, "Hyperscan (literal)"};
  std::vector<const char*> expressions;
  std::vector<size_t> lengths;
  std::vector<unsigned> flags(signatures.size(), HS_FLAG_SINGLEMATCH), ids(signatures.size());
  for (size_t i = 0; i < signatures.size(); ++i) {
    expressions.push_back(signatures[i].data());
    lengths.push_back(signatures[i].size());
    ids[i] = static_cast<unsigned>(i);
  }
  hs_database_t* database = nullptr;
  hs_compile_error_t* error = nullptr;
  const double start = ThreadSeconds();
  if (hs_compile_lit_multi(expressions.data(), flags.data(), ids.data(), lengths.data(),
                           static_cast<unsigned>(signatures.size()), HS_MODE_BLOCK, nullptr, &database,
                           &error) != HS_SUCCESS) {
    std::fprintf(stderr, "hyperscan: %s\n", error->message);
    std::exit(1);
  }
  row.buildSeconds = ThreadSeconds() - start;
  hs_scratch_t* scratch = nullptr;
  hs_alloc_scratch(database, &scratch);
  size_t databaseSize = 0, scratchSize = 0;
  hs_database_size(database, &databaseSize);
  hs_scratch_size(scratch, &scratchSize);
  row.memoryMb = Mb(databaseSize + scratchSize);
  const double seconds = BestOf(kRuns, [&] {
    row.found = false;
    hs_scan(database, corpus.data(), static_cast<unsigned>(corpus.size()), 0, scratch, StopAtFirst, &row.found);
  });
  row.mbPerSecond = Mb(corpus.size()) / seconds;
  hs_scan(database, planted.data(), static_cast<unsigned>(planted.size()), 0, scratch, StopAtFirst, &row.plantedFound);
  hs_free_scratch(scratch);
  hs_free_database(database);
  return row;
}

CRow Grep(const std::string& name, const std::vector<std::string>& signatures, const std::string& corpusPath,
          size_t corpusSize, const std::string& planted, const std::string& folder) {
  CRow row{name, "grep -F (whole process)"};
  const std::string list = folder + "/signatures-" + std::to_string(signatures.size()) + ".txt";
  {
    std::ofstream out(list, std::ios::binary);
    for (const std::string& s : signatures) out << s << '\n';
  }
  const std::string command = "LC_ALL=C grep -F -q -f '" + list + "' '" + corpusPath + "'";
  int status = 0;
  const double seconds = BestOf(kRuns, [&] { status = std::system(command.c_str()); }, ChildSeconds);
  row.found = status == 0;
  row.mbPerSecond = Mb(corpusSize) / seconds;
  const std::string plantedPath = folder + "/planted.txt";
  std::ofstream(plantedPath, std::ios::binary) << planted;
  row.plantedFound = std::system(("LC_ALL=C grep -F -q -f '" + list + "' '" + plantedPath + "'").c_str()) == 0;
  return row;
}

void Print(const std::vector<CRow>& rows) {
  std::printf("| signatures | engine | build s | memory MB | scan MB/s | ours / Hyperscan | match |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (const CRow& row : rows) {
    double hyperscan = 0;
    for (const CRow& other : rows) {
      if (other.set == row.set && other.engine.rfind("Hyperscan", 0) == 0) hyperscan = other.mbPerSecond;
    }
    char build[32] = "-", memory[32] = "-", ratio[32] = "";
    if (row.buildSeconds >= 0) std::snprintf(build, sizeof build, "%.3f", row.buildSeconds);
    if (row.memoryMb >= 0) std::snprintf(memory, sizeof memory, "%.1f", row.memoryMb);
    if (row.engine == "this matcher" && hyperscan > 0) {
      std::snprintf(ratio, sizeof ratio, "%.2f", row.mbPerSecond / hyperscan);
    }
    std::printf("| %s | %s | %s | %s | %.0f | %s | %s |\n", row.set.c_str(), row.engine.c_str(), build,
                memory, row.mbPerSecond, ratio, row.found ? "yes" : "no");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s CORPUS WORK_FOLDER\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  const std::string corpus = content.str();
  if (corpus.empty()) {
    std::fprintf(stderr, "empty corpus %s\n", argv[1]);
    return 2;
  }
  std::printf("corpus: %s, %.1f MB\n\n", argv[1], Mb(corpus.size()));
  const struct {
    std::string name;
    std::vector<std::string> signatures;
  } sets[] = {{"shipped " + std::to_string(ShippedSignatures().size()), ShippedSignatures()},
              {"100,000 synthetic", SyntheticSignatures()}};
  std::vector<CRow> rows;
  for (const auto& set : sets) {
    // A piece of the corpus with one of the signatures in it (after a line end, so that it
    // begins a character).
    const std::string planted = corpus.substr(0, 1 << 20) + "\n" + set.signatures[set.signatures.size() / 2] + "\n";
    rows.push_back(Ours(set.name, set.signatures, corpus, planted));
    rows.push_back(Hyperscan(set.name, set.signatures, corpus, planted));
    rows.push_back(Grep(set.name, set.signatures, argv[1], corpus.size(), planted, argv[2]));
  }
  Print(rows);
  bool sound = true;
  for (const CRow& row : rows) {
    if (row.found != rows[0].found || !row.plantedFound) {
      std::printf("\n%s on %s: corpus %s, planted signature %s\n", row.engine.c_str(), row.set.c_str(),
                  row.found ? "matched" : "clean", row.plantedFound ? "found" : "missed");
      sound = false;
    }
  }
  return sound ? 0 : 1;
}
