// Runs the stand-in library's signature set over files the way the checker does (read in
// pieces, every entry applied by one scan per file) and prints the suspicious ones, then
// "signatures N checked N suspicious M".
//   signature_scan [--ext php,inc] PATH...
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>

#include "posix_web_files.h"
#include "webguard/signature_set.h"
#include "webguard/views_scan.h"
#include "webguard/watch_types.h"

namespace {

const char* const kSignatures[] = {
#include "signatures.inc"
};

}  // namespace

int main(int argc, char** argv) {
  std::set<std::string> extensions;
  CSignatureSet set;
  set.Update(kSignatures, static_cast<int>(sizeof kSignatures / sizeof kSignatures[0]));
  CPosixWebFiles files;
  int checked = 0, suspicious = 0;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--ext") == 0 && i + 1 < argc) {
      std::stringstream list(argv[++i]);
      for (std::string e; std::getline(list, e, ',');) extensions.insert(e);
    } else {
      paths.push_back(argv[i]);
    }
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
