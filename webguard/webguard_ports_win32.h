#pragma once
// The Win32 side of the website protection ports: the watch-list mutex, files and folders,
// the signature library and sleeping.
#include <windows.h>

#include "common/process_mutexes_win32.h"  // g_hWatchFileMutex
#include "webguard/script_checker.h"

// The signature library as the website protection host loaded it; null when it could not be
// loaded or the host is gone.
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

// The form of a UTF-16 path that the file functions take whatever its length.
std::u16string ExtendedPath(const std::u16string& path);

// Files through the UTF-16 file functions wherever a UTF-16 path is known, so names outside
// the ANSI code page open too; text conversions through the system's code pages.
class CWin32WebFileSystem : public IWebFileSystem {
 public:
  bool ReadPieces(const CWebFile& file, const std::function<bool(const char*, size_t)>& sink) override;
  bool Enumerate(const CWebFile& pattern, std::vector<CFolderEntry>* entries) override;
  std::u16string WidePath(const std::string& path) override;
  void AppendGbk(const char16_t* units, size_t count, std::string* out) override;
  CWebFile LongPath(const CWebFile& file) override;
  std::string FolderIdentity(const CWebFile& folder) override;
  bool Missing(const CWebFile& file) override;
};

// The library as one checker uses it: it holds its own reference to the module that
// g_hScriptLib named when it was made, so the library stays loaded while the checker runs,
// whatever happens to the host. The export is looked up for every check.
class CWin32ScriptLibrary : public IScriptLibrary {
 public:
  CWin32ScriptLibrary();
  ~CWin32ScriptLibrary() override;
  CWin32ScriptLibrary(const CWin32ScriptLibrary&) = delete;
  CWin32ScriptLibrary& operator=(const CWin32ScriptLibrary&) = delete;

  bool Loaded() override { return m_hModule != nullptr; }
  bool FetchSignatures(const char** entries, int* count) override;

 private:
  HMODULE m_hModule = nullptr;
};

// The checker's wake signal: one manual-reset event for the process, signalled by the watcher
// and the folder scan when they have queued a file, and by whatever stops the checkers (the
// window's end, protection stop), so an idle checker sleeps without polling.
void WakeWatchFileChecker();

class CWatchFileWake : public IWakeSignal {
 public:
  void Arm() override;
  void Signal() override { WakeWatchFileChecker(); }
  void Wait(int maxMilliseconds) override;
};

class CWin32Sleeper : public ISleeper {
 public:
  void Sleep(int milliseconds) override { ::Sleep(static_cast<DWORD>(milliseconds)); }
  int64_t NowMs() override { return static_cast<int64_t>(GetTickCount64()); }
};
