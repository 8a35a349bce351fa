#include "webguard/webguard_ports_win32.h"

#include <cstdio>
#include <memory>

HMODULE g_hScriptLib = nullptr;

const char kScriptLibraryName[] = "scriptviruslib.dll";
const char kScriptLibraryExport[] = "getscriptviruslib";

namespace {

using GetScriptVirusLib = int (*)(const char** list);

struct CFileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using CFilePtr = std::unique_ptr<FILE, CFileCloser>;

}  // namespace

void CreateWatchFileMutex() {
  if (!g_hWatchFileMutex) g_hWatchFileMutex = CreateMutexA(nullptr, FALSE, nullptr);
}

void LoadScriptLibrary() {
  if (!g_hScriptLib) g_hScriptLib = LoadLibraryA(kScriptLibraryName);
}

void FreeScriptLibrary() {
  if (g_hScriptLib) FreeLibrary(g_hScriptLib);
  g_hScriptLib = nullptr;
}

void CWatchFileMutexLock::Lock() { WaitForSingleObject(g_hWatchFileMutex, INFINITE); }

void CWatchFileMutexLock::Unlock() { ReleaseMutex(g_hWatchFileMutex); }

bool CWin32WebFileSystem::FileSize(const std::string& path, uint64_t* size) {
  CFilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file || _fseeki64(file.get(), 0, SEEK_END) != 0) return false;
  const long long end = _ftelli64(file.get());
  if (end < 0) return false;
  *size = static_cast<uint64_t>(end);
  return true;
}

bool CWin32WebFileSystem::ReadRaw(const std::string& path, std::string* bytes) {
  CFilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  bytes->clear();
  char buffer[65536];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes->append(buffer, got);
  return !std::ferror(file.get());
}

bool CWin32WebFileSystem::Enumerate(const std::string& pattern, std::vector<CFolderEntry>* entries) {
  WIN32_FIND_DATAA data{};
  const HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    entries->push_back({data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return true;
}

bool CWin32ScriptLibrary::FetchSignatures(const char** entries, int* count) {
  if (!g_hScriptLib) return false;
  const auto fetch = reinterpret_cast<GetScriptVirusLib>(
      reinterpret_cast<void*>(GetProcAddress(g_hScriptLib, kScriptLibraryExport)));
  if (!fetch) return false;
  *count = fetch(entries);
  return true;
}
