#include "posix_web_files.h"

#include <iconv.h>

#include <filesystem>
#include <fstream>
#include <memory>

bool CPosixWebFiles::ReadPieces(const CWebFile& file, const std::function<bool(const char*, size_t)>& sink) {
  std::ifstream in(file.strPath, std::ios::binary);
  if (!in) return false;
  std::unique_ptr<char[]> buffer(new char[kReadPieceSize]);
  while (in) {
    in.read(buffer.get(), static_cast<std::streamsize>(kReadPieceSize));
    const size_t got = static_cast<size_t>(in.gcount());
    if (got == 0 || !sink(buffer.get(), got)) break;
  }
  return !in.bad();
}

void CPosixWebFiles::AppendGbk(const char16_t* units, size_t count, std::string* out) {
  const iconv_t convert = iconv_open("GBK", "UTF-16LE");
  if (convert == reinterpret_cast<iconv_t>(-1)) return;
  std::string input(reinterpret_cast<const char*>(units), count * 2);
  char* in = &input[0];
  size_t inLeft = input.size();
  std::string buffer(count * 2 + 16, '\0');
  while (inLeft > 0) {
    char* target = &buffer[0];
    size_t outLeft = buffer.size();
    const size_t done = iconv(convert, &in, &inLeft, &target, &outLeft);
    out->append(buffer.data(), buffer.size() - outLeft);
    if (done == static_cast<size_t>(-1) && inLeft >= 2) {
      // A character GBK cannot hold: one "?", for a surrogate pair too; a surrogate without
      // its other half is one character of its own, as the system's conversion reads it.
      out->push_back('?');
      const auto high = static_cast<unsigned char>(in[1]);
      const bool pair = high >= 0xD8 && high <= 0xDB && inLeft >= 4 &&
                        static_cast<unsigned char>(in[3]) >= 0xDC && static_cast<unsigned char>(in[3]) <= 0xDF;
      const size_t skip = pair ? 4 : 2;
      in += skip;
      inLeft -= skip;
    } else if (done == static_cast<size_t>(-1)) {
      break;
    }
  }
  iconv_close(convert);
}

std::vector<std::string> FilesBelow(const std::string& path) {
  std::vector<std::string> files;
  std::error_code error;
  if (std::filesystem::is_regular_file(path, error)) return {path};
  for (auto it = std::filesystem::recursive_directory_iterator(path, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error)) files.push_back(it->path().string());
  }
  return files;
}
