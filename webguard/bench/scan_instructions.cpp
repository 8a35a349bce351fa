// The signature check once over a list of files, for count_instructions.sh, which counts the
// instructions it executes in the check (the scan's Feed and Finish) under callgrind:
//   scan_instructions FILE_LIST shipped|synthetic
// A count does not move with the machine's load, as the times of run_bench.sh do on a shared
// host, so it tells whether a change to the check makes it do less.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_signatures.h"
#include "webguard/signature_rules.h"

int main(int argc, char** argv) {
  const bool shipped = argc == 3 && std::strcmp(argv[2], "shipped") == 0;
  if (argc != 3 || (!shipped && std::strcmp(argv[2], "synthetic") != 0)) {
    std::fprintf(stderr, "usage: %s FILE_LIST shipped|synthetic\n", argv[0]);
    return 2;
  }
  CSignatureRules rules;
  if (!rules.Build(shipped ? ShippedWithExtended() : SyntheticEntries())) {
    std::fprintf(stderr, "the list was not built\n");
    return 1;
  }
  CSignatureScan scan(rules);
  std::ifstream list(argv[1]);
  size_t files = 0, bytes = 0, flagged = 0;
  for (std::string path; std::getline(list, path);) {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ++files;
    bytes += text.size();
    flagged += ScanFile(scan, text.data(), text.size());
  }
  std::printf("files %zu bytes %zu flagged %zu\n", files, bytes, flagged);
  return 0;
}
