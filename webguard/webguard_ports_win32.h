#pragma once
// The Win32 side of the website protection ports: the watch-list mutex, files and folders,
// the signature library and sleeping.
#include <windows.h>

#include "app/process_mutexes_win32.h"  // g_hWatchFileMutex
#include "webguard/script_checker.h"

// The signature library; null when it could not be loaded.
extern HMODULE g_hScriptLib;

extern const char kScriptLibraryName[];    // "scriptviruslib.dll"
extern const char kScriptLibraryExport[];  // "getscriptviruslib"

// Creates g_hWatchFileMutex unless the main window has already done so.
void CreateWatchFileMutex();

// LoadLibraryA by bare name (the system's search order); FreeLibrary and null again.
void LoadScriptLibrary();
void FreeScriptLibrary();

class CWatchFileMutexLock : public IWatchListLock {
 public:
  void Lock() override;
  void Unlock() override;
};

class CWin32WebFileSystem : public IWebFileSystem {
 public:
  bool FileSize(const std::string& path, uint64_t* size) override;
  bool ReadRaw(const std::string& path, std::string* bytes) override;
  bool Enumerate(const std::string& pattern, std::vector<CFolderEntry>* entries) override;
};

// Looks the export up in g_hScriptLib for every check.
class CWin32ScriptLibrary : public IScriptLibrary {
 public:
  bool Loaded() override { return g_hScriptLib != nullptr; }
  bool FetchSignatures(const char** entries, int* count) override;
};

class CWin32Sleeper : public ISleeper {
 public:
  void Sleep(int milliseconds) override { ::Sleep(static_cast<DWORD>(milliseconds)); }
};
