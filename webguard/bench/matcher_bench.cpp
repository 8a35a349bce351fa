// IsScriptSuspicious on a 10,000,000-byte script against 100,000 signatures: the one-pass
// matcher (automaton already built, as between library changes), its build, the plain
// per-signature loop, and grep -F -f over the same two files.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include "common/clock.h"
#include "posix_web_files.h"
#include "webguard/script_checker.h"

namespace {

constexpr size_t kContentSize = 10000000;
constexpr int kSignatureCount = 100000;
constexpr int kLoopSample = 200;  // the per-signature loop runs this many and is scaled up

const char kContentPath[] = "/tmp/webguard-bench-content.php";
const char kSignaturePath[] = "/tmp/webguard-bench-signatures.txt";

// PHP-like text with GBK comments; signatures built from the same kind of tokens followed by
// tails that plain code does not contain, so the automaton travels deep but never matches.
struct CBenchData {
  std::vector<std::string> signatures;
  std::vector<const char*> entries;

  CBenchData() {
    std::mt19937 random(8);
    auto word = [&](int minLength, int maxLength, const char* letters) {
      std::string w(minLength + random() % (maxLength - minLength + 1), 'a');
      const size_t n = std::strlen(letters);
      for (char& c : w) c = letters[random() % n];
      return w;
    };
    std::vector<std::string> words;
    for (int i = 0; i < 600; ++i) words.push_back(word(3, 10, "abcdefghijklmnopqrstuvwxyz"));
    const char* keywords[] = {"function", "return", "if (", "else", "foreach (", "array(",
                              "$this->", "echo ", "isset(", "public", "static", "new ",
                              "null", "$_GET[", "$_POST[", "include ", "=> ", "->", "::",
                              "eval(", "base64_decode(", "system(", "exec("};
    std::string content;
    content.reserve(kContentSize + 200);
    while (content.size() < kContentSize) {
      std::string line(4 * (random() % 4), ' ');
      const int tokens = 2 + random() % 9;
      for (int t = 0; t < tokens; ++t) {
        const unsigned pick = random() % 10;
        if (pick < 3) {
          line += keywords[random() % (sizeof keywords / sizeof keywords[0])];
        } else if (pick < 6) {
          line += "$" + words[random() % words.size()];
        } else {
          line += words[random() % words.size()];
        }
        line += ' ';
      }
      line += random() % 7 == 0 ? "// \xD6\xD0\xCE\xC4\xD7\xA2\xCA\xCD\n" : ";\n";
      content += line;
    }
    content.resize(kContentSize);
    std::ofstream(kContentPath, std::ios::binary) << content;

    const char* prefixes[] = {"eval(", "$_POST[", "base64_decode(", "<?php ", "function ",
                              "$this->", "array(", "echo ", "system(", "assert(", "gzinflate(",
                              "exec(", "$_GET[", "include ", "\xD6\xD0\xCE\xC4"};
    std::ofstream list(kSignaturePath, std::ios::binary);
    while (static_cast<int>(signatures.size()) < kSignatureCount) {
      // Tails always hold a digit, which the generated code never does.
      std::string tail = word(4, 18, "abcdefghijklmnopqrstuvwxyz_") + word(1, 2, "0123456789");
      std::string s = random() % 10 < 7
                          ? prefixes[random() % (sizeof prefixes / sizeof prefixes[0])] + tail
                          : tail;
      list << s << '\n';
      signatures.push_back(std::move(s));
    }
    for (const std::string& s : signatures) entries.push_back(s.c_str());
  }
};

CBenchData& Data() {
  static CBenchData data;
  return data;
}

class CBenchLibrary : public IScriptLibrary {
 public:
  bool Loaded() override { return true; }
  bool FetchSignatures(const char** entries, int* count) override {
    const auto& data = Data().entries;
    std::copy(data.begin(), data.end(), entries);
    *count = static_cast<int>(data.size());
    return true;
  }
};

class CNoSleep : public ISleeper {
 public:
  void Sleep(int) override {}
};

class CNoLock : public IWatchListLock {
 public:
  void Lock() override {}
  void Unlock() override {}
};

struct CBenchPorts {
  CPosixWebFiles files;
  CBenchLibrary library;
  CSystemClock clock;
  CNoSleep sleeper;
  CNoLock lock;
  CWatcherFileList pending;
  CWebGuardPorts ports{files, library, clock, sleeper, lock, pending};
};

void BM_IsScriptSuspicious_OnePass(benchmark::State& state) {
  Data();
  CBenchPorts bench;
  CScriptChecker checker(bench.ports);
  if (checker.IsScriptSuspicious(kContentPath)) state.SkipWithError("the clean text matched");
  for (auto _ : state) benchmark::DoNotOptimize(checker.IsScriptSuspicious(kContentPath));
}

void BM_MatcherBuild(benchmark::State& state) {
  const auto& signatures = Data().signatures;
  for (auto _ : state) {
    CSignatureMatcher matcher;
    matcher.Build(signatures);
    benchmark::DoNotOptimize(matcher.Empty());
  }
}

void BM_IsScriptSuspicious_PerSignatureLoop(benchmark::State& state) {
  CPosixWebFiles files;
  const auto& all = Data().signatures;
  const std::vector<std::string> sample(all.begin(), all.begin() + kLoopSample);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const std::string content = ReadScriptText(files, kContentPath);
    benchmark::DoNotOptimize(AnySignatureOccurs(content.data(), content.size(), sample));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // No signature matches, so every one costs a full search: scale to the whole list.
    state.SetIterationTime(seconds * kSignatureCount / kLoopSample);
  }
  state.SetLabel("extrapolated from 200 of 100000 signatures");
}

void BM_GrepFixedStrings(benchmark::State& state) {
  Data();
  const std::string command = std::string("LC_ALL=C grep -F -q -f ") + kSignaturePath + " " + kContentPath;
  for (auto _ : state) {
    const int status = std::system(command.c_str());
    if (status == 0) state.SkipWithError("grep found a signature in the clean text");
  }
  state.SetLabel("whole grep process: reads both files, builds its automaton, scans");
}

}  // namespace

BENCHMARK(BM_IsScriptSuspicious_OnePass)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_MatcherBuild)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_GrepFixedStrings)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_IsScriptSuspicious_PerSignatureLoop)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
BENCHMARK_MAIN();
