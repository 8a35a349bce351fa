#include "config/profile_store_win32.h"

#include <windows.h>

#include "config/ini_access.h"

namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

std::string Ansi(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr, nullptr);
  return text;
}

std::wstring ReadWide(const std::string& file, const std::string& section, const std::string& key,
                      const wchar_t* fallback) {
  const std::wstring f = Wide(file), s = Wide(section), k = Wide(key);
  return ReadWholeValue<wchar_t>([&](wchar_t* buffer, size_t size) -> size_t {
    return GetPrivateProfileStringW(s.c_str(), k.c_str(), fallback, buffer, static_cast<DWORD>(size), f.c_str());
  });
}

}  // namespace

std::string CWin32ProfileFunctions::Get(const std::string& file, const std::string& section,
                                        const std::string& key) {
  return Ansi(ReadWide(file, section, key, L""));
}

bool CWin32ProfileFunctions::Put(const std::string& file, const std::string& section, const std::string& key,
                                 const std::string& value) {
  return WritePrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), Wide(value).c_str(),
                                    Wide(file).c_str()) != FALSE;
}

bool CWin32ProfileFunctions::Has(const std::string& file, const std::string& section, const std::string& key) {
  // A default no value can hold (values end at a line break) tells a missing key from an empty one.
  return ReadWide(file, section, key, L"\n#") != L"\n#";
}

bool CWin32ConfigFiles::Read(const std::string& path, std::string& bytes) {
  bytes.clear();
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  char chunk[16384];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h, chunk, sizeof chunk, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    bytes.append(chunk, got);
  }
  CloseHandle(h);
  return ok;
}

bool CWin32ConfigFiles::WriteThrough(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    DWORD wrote = 0;
    const DWORD want = static_cast<DWORD>(bytes.size() - done > 1u << 20 ? 1u << 20 : bytes.size() - done);
    ok = WriteFile(h, bytes.data() + done, want, &wrote, nullptr) && wrote > 0;
    done += wrote;
  }
  ok = ok && FlushFileBuffers(h);
  return CloseHandle(h) && ok;
}

bool CWin32ConfigFiles::Replace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

void CWin32ConfigFiles::Remove(const std::string& path) { DeleteFileA(path.c_str()); }

CWin32ProfileStore::CWin32ProfileStore() : m_keeper(m_profile, m_files, &m_log, kConfigFile) {}

std::string CWin32ProfileStore::Get(const std::string& file, const std::string& section,
                                    const std::string& key) {
  return m_keeper.Get(file, section, key);
}

bool CWin32ProfileStore::Put(const std::string& file, const std::string& section, const std::string& key,
                             const std::string& value) {
  return m_keeper.Put(file, section, key, value);
}
