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
