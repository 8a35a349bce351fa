// scriptviruslib.dll: the signature library of the website protection.
//
//   int getscriptviruslib(const char** list)
//
// list points to the first of the caller's zeroed array of 100,000 string pointers. The
// library fills entries from index 0 with its signatures (zero-terminated GBK byte strings
// that stay owned by the library) and returns how many it filled.
#include <windows.h>

namespace {

const char* const kSignatures[] = {
#include "signatures.inc"
};
constexpr int kSlots = 100000;
constexpr int kCount = static_cast<int>(sizeof kSignatures / sizeof kSignatures[0]);
static_assert(kCount < kSlots, "the caller's array holds 100,000 entries");

}  // namespace

extern "C" __declspec(dllexport) int getscriptviruslib(const char** list) {
  if (!list) return 0;
  for (int i = 0; i < kCount; ++i) list[i] = kSignatures[i];
  return kCount;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
