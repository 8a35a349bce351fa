#include "scratch_dir_win32.h"

#include <shellapi.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "process_driver_win32.h"

CScratchDir::CScratchDir() {
  char previous[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, previous);
  m_strPrevious = previous;
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  static unsigned counter = 0;
  // A folder of its own, new: a name left by an earlier run (a test process whose id came back)
  // is passed over, and a folder that cannot be made is said at once instead of surfacing later
  // as a program that will not start in it.
  for (int attempt = 0; attempt < 100; ++attempt) {
    m_strPath = std::string(temp) + "tavrick-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(GetTickCount()) + "-" + std::to_string(++counter);
    if (CreateDirectoryA(m_strPath.c_str(), nullptr)) break;
    std::fprintf(stderr, "scratch folder %s: %s\n", m_strPath.c_str(), SystemErrorText(GetLastError()).c_str());
  }
  SetCurrentDirectoryA(m_strPath.c_str());
}

CScratchDir::~CScratchDir() {
  SetCurrentDirectoryA(m_strPrevious.c_str());
  std::string from = m_strPath + std::string(1, '\0');  // double-NUL terminated list
  SHFILEOPSTRUCTA op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
  SHFileOperationA(&op);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool AppendToFile(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
  CloseHandle(file);
  return ok;
}

std::string ReadFilesMatching(const std::string& folder, const std::string& pattern, const std::string& after) {
  std::string text;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return text;
  do {
    text += ReadWholeFile(folder + "\\" + found.cFileName) + after;
  } while (FindNextFileA(find, &found));
  FindClose(find);
  return text;
}

std::string ConfigLogOf(const std::string& dir) { return ReadFilesMatching(dir + "\\log", "cfg*.txt"); }

// Wine 8 makes neither junctions (FSCTL_SET_REPARSE_POINT is not supported) nor symbolic links
// (CreateSymbolicLink reports success and makes nothing), but shows a Unix symbolic link to a
// folder as a folder reparse point: under Wine that one stands in for the junction. Wine starts
// Unix programs like Windows ones (without an exit code), which is how it is made.
namespace {

std::string WineUnixPath(const std::string& path) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  const auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
  if (unixName == nullptr) return "";
  WCHAR wide[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
  char* name = unixName(wide);
  const std::string result = name ? name : "";
  if (name) HeapFree(GetProcessHeap(), 0, name);
  return result;
}

bool RunUnixTool(const char* tool, std::string arguments) {
  std::string command = std::string(tool) + " " + arguments;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  const std::string program = std::string("Z:\\bin\\") + tool;
  if (!CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    return false;
  }
  WaitForSingleObject(pi.hProcess, 10000);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return true;
}

}  // namespace

bool IsFolderLink(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool MakeWineFolderLink(const std::string& link, const std::string& target) {
  const std::string from = WineUnixPath(target), to = WineUnixPath(link);
  if (from.empty() || to.empty() || !RunUnixTool("ln", "-s \"" + from + "\" \"" + to + "\"")) return false;
  for (int i = 0; i < 100 && !IsFolderLink(link); ++i) Sleep(50);
  return IsFolderLink(link);
}

// Removes the link only, never what it leads to.
void RemoveFolderLink(const std::string& link) {
  if (RemoveDirectoryA(link.c_str())) return;
  const std::string path = WineUnixPath(link);
  if (!path.empty()) RunUnixTool("rm", "\"" + path + "\"");
  for (int i = 0; i < 100 && FileExists(link); ++i) Sleep(50);
}
