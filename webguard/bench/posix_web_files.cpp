#include "posix_web_files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

bool CPosixWebFiles::FileSize(const std::string& path, uint64_t* size) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  *size = std::filesystem::file_size(path, error);
  return !error;
}

bool CPosixWebFiles::ReadRaw(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  *bytes = out.str();
  return true;
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
