// fwpuclnt.dll for the tests: records every call of the filtering engine's management API the
// program makes, one text line each, to the file TAVRICK_FWP_RECORD names (appended, written
// through at once), hands out filter ids, and refuses on request. It keeps no filters and
// judges nothing: what the engine would do with them is the model's business (wfpfilter/model).
#include <windows.h>
#include <fwpmu.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Any value but null: the program only hands it back.
HANDLE const kEngineHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x46575052));  // "FWPR"
// The code the refused add returns (FWP_E_INVALID_NET_MASK).
constexpr DWORD kRefusedAdd = 0x8032001F;

SRWLOCK g_lock = SRWLOCK_INIT;
bool g_open = false;
UINT64 g_nextId = 1;
unsigned g_adds = 0;       // FwpmFilterAdd0 calls since the session opened
unsigned g_failAdd = 0;    // TAVRICK_FWP_FAIL_ADD as read at the open; 0 for none

struct CLock {
  CLock() { AcquireSRWLockExclusive(&g_lock); }
  ~CLock() { ReleaseSRWLockExclusive(&g_lock); }
};

unsigned EnvNumber(const char* name) {
  char text[32] = {};
  const DWORD n = GetEnvironmentVariableA(name, text, sizeof(text));
  if (n == 0 || n >= sizeof(text)) return 0;
  return static_cast<unsigned>(std::strtoul(text, nullptr, 10));
}

// One line to the record, opened and closed for each so a reader sees it at once and several
// processes may share the file.
void Record(const char* format, ...) {
  char path[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableA("TAVRICK_FWP_RECORD", path, sizeof(path));
  if (n == 0 || n >= sizeof(path)) return;
  char line[1024];
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(line, sizeof(line) - 2, format, args);
  va_end(args);
  if (length < 0) return;
  if (length > static_cast<int>(sizeof(line)) - 3) length = static_cast<int>(sizeof(line)) - 3;
  line[length++] = '\r';
  line[length++] = '\n';
  const HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
}

// 8-4-4-4-12 lower-case hex, as uuid tools and `netsh wfp` print keys.
struct CGuidText {
  char text[40];
  explicit CGuidText(const GUID* g) {
    if (g == nullptr) {
      std::snprintf(text, sizeof(text), "null");
      return;
    }
    std::snprintf(text, sizeof(text), "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(g->Data1), g->Data2, g->Data3, g->Data4[0], g->Data4[1],
                  g->Data4[2], g->Data4[3], g->Data4[4], g->Data4[5], g->Data4[6], g->Data4[7]);
  }
};

// A narrow copy of a display name for the record (ours are ASCII).
struct CNameText {
  char text[64];
  explicit CNameText(const wchar_t* name) {
    std::size_t i = 0;
    if (name != nullptr) {
      for (; name[i] != 0 && i + 1 < sizeof(text); ++i) {
        text[i] = name[i] < 0x80 ? static_cast<char>(name[i]) : '?';
      }
    }
    text[i] = 0;
  }
};

// The value of one condition or weight: its type, then what that type holds.
void FormatValue(const FWP_CONDITION_VALUE0& v, char* out, std::size_t size) {
  switch (v.type) {
    case FWP_UINT8: std::snprintf(out, size, "type=uint8 value=0x%02x", v.uint8); break;
    case FWP_UINT16: std::snprintf(out, size, "type=uint16 value=0x%04x", v.uint16); break;
    case FWP_UINT32:
      std::snprintf(out, size, "type=uint32 value=0x%08lx", static_cast<unsigned long>(v.uint32));
      break;
    case FWP_V4_ADDR_MASK:
      if (v.v4AddrMask == nullptr) {
        std::snprintf(out, size, "type=v4-addr-mask null");
      } else {
        std::snprintf(out, size, "type=v4-addr-mask addr=0x%08lx mask=0x%08lx",
                      static_cast<unsigned long>(v.v4AddrMask->addr),
                      static_cast<unsigned long>(v.v4AddrMask->mask));
      }
      break;
    case FWP_RANGE_TYPE:
      if (v.rangeValue == nullptr) {
        std::snprintf(out, size, "type=range null");
      } else {
        const FWP_VALUE0& low = v.rangeValue->valueLow;
        const FWP_VALUE0& high = v.rangeValue->valueHigh;
        std::snprintf(out, size, "type=range low-type=%d low=0x%08lx high-type=%d high=0x%08lx",
                      static_cast<int>(low.type), static_cast<unsigned long>(low.uint32),
                      static_cast<int>(high.type), static_cast<unsigned long>(high.uint32));
      }
      break;
    default: std::snprintf(out, size, "type=%d", static_cast<int>(v.type)); break;
  }
}

const char* MatchName(FWP_MATCH_TYPE match) {
  switch (match) {
    case FWP_MATCH_EQUAL: return "equal";
    case FWP_MATCH_RANGE: return "range";
    default: return "other";
  }
}

bool Ours(HANDLE engine) { return g_open && engine == kEngineHandle; }

// The engine's one rule across sessions: an object's key belongs to the session that added it
// until that session ends (FWP_E_ALREADY_EXISTS for any other). Each key the session adds is
// held as a named mutex of this machine, so the sessions of several processes (two copies of
// the program during a hand-over) meet the rule; closing the session lets them go.
constexpr DWORD kAlreadyExists = 0x80320009;  // FWP_E_ALREADY_EXISTS
HANDLE g_heldKeys[8] = {};
unsigned g_heldCount = 0;

// True when the session may add an object under this key (it now holds it).
bool HoldKey(const CGuidText& key) {
  char name[80];
  std::snprintf(name, sizeof(name), "Local\\tavrick-fwp-recorder-%s", key.text);
  const HANDLE held = CreateMutexA(nullptr, FALSE, name);
  if (held == nullptr) return false;
  if (GetLastError() == ERROR_ALREADY_EXISTS || g_heldCount >= sizeof(g_heldKeys) / sizeof(g_heldKeys[0])) {
    CloseHandle(held);
    return false;
  }
  g_heldKeys[g_heldCount++] = held;
  return true;
}

void ReleaseKeys() {
  for (unsigned i = 0; i < g_heldCount; ++i) CloseHandle(g_heldKeys[i]);
  g_heldCount = 0;
}

}  // namespace

extern "C" {

DWORD WINAPI FwpmEngineOpen0(const wchar_t* serverName, UINT32 authnService, SEC_WINNT_AUTH_IDENTITY_W* authIdentity,
                             const FWPM_SESSION0* session, HANDLE* engineHandle) {
  CLock lock;
  if (engineHandle == nullptr) return ERROR_INVALID_PARAMETER;
  const unsigned flags = session != nullptr ? session->flags : 0;
  if (EnvNumber("TAVRICK_FWP_FAIL_OPEN") != 0) {
    Record("open refused code=0x%08lx session-flags=0x%08x", static_cast<unsigned long>(ERROR_ACCESS_DENIED), flags);
    return ERROR_ACCESS_DENIED;
  }
  g_open = true;
  g_adds = 0;
  g_failAdd = EnvNumber("TAVRICK_FWP_FAIL_ADD");
  *engineHandle = kEngineHandle;
  Record("open session=%s session-flags=0x%08x authn=%u server=%s identity=%s name=%s",
         session != nullptr ? "given" : "null", flags, authnService, serverName != nullptr ? "given" : "local",
         authIdentity != nullptr ? "given" : "null",
         CNameText(session != nullptr ? session->displayData.name : nullptr).text);
  return ERROR_SUCCESS;
}

DWORD WINAPI FwpmEngineClose0(HANDLE engineHandle) {
  CLock lock;
  if (!Ours(engineHandle)) return ERROR_INVALID_HANDLE;
  g_open = false;
  ReleaseKeys();
  Record("close");
  return ERROR_SUCCESS;
}

DWORD WINAPI FwpmProviderAdd0(HANDLE engineHandle, const FWPM_PROVIDER0* provider, PSECURITY_DESCRIPTOR sd) {
  CLock lock;
  if (!Ours(engineHandle)) return ERROR_INVALID_HANDLE;
  if (provider == nullptr) return ERROR_INVALID_PARAMETER;
  const CGuidText key(&provider->providerKey);
  const DWORD result = HoldKey(key) ? ERROR_SUCCESS : kAlreadyExists;
  Record("provider key=%s flags=0x%08x sd=%s name=%s result=0x%08lx", key.text,
         static_cast<unsigned>(provider->flags), sd != nullptr ? "given" : "null",
         CNameText(provider->displayData.name).text, static_cast<unsigned long>(result));
  return result;
}

DWORD WINAPI FwpmSubLayerAdd0(HANDLE engineHandle, const FWPM_SUBLAYER0* subLayer, PSECURITY_DESCRIPTOR sd) {
  CLock lock;
  if (!Ours(engineHandle)) return ERROR_INVALID_HANDLE;
  if (subLayer == nullptr) return ERROR_INVALID_PARAMETER;
  const CGuidText key(&subLayer->subLayerKey);
  const DWORD result = HoldKey(key) ? ERROR_SUCCESS : kAlreadyExists;
  Record("sublayer key=%s provider=%s weight=0x%04x flags=0x%08x sd=%s name=%s result=0x%08lx", key.text,
         CGuidText(subLayer->providerKey).text, subLayer->weight, static_cast<unsigned>(subLayer->flags),
         sd != nullptr ? "given" : "null", CNameText(subLayer->displayData.name).text,
         static_cast<unsigned long>(result));
  return result;
}

DWORD WINAPI FwpmTransactionBegin0(HANDLE engineHandle, UINT32 flags) {
  CLock lock;
  if (!Ours(engineHandle)) return ERROR_INVALID_HANDLE;
  Record("begin flags=0x%08x", flags);
  return ERROR_SUCCESS;
}

DWORD WINAPI FwpmTransactionCommit0(HANDLE engineHandle) {
  CLock lock;
  if (!Ours(engineHandle)) return ERROR_INVALID_HANDLE;
  Record("commit");
  return ERROR_SUCCESS;
}

DWORD WINAPI FwpmTransactionAbort0(HANDLE engineHandle) {
  CLock lock;
  if (!Ours(engineHandle)) return ERROR_INVALID_HANDLE;
  Record("abort");
  return ERROR_SUCCESS;
}

DWORD WINAPI FwpmFilterAdd0(HANDLE engineHandle, const FWPM_FILTER0* filter, PSECURITY_DESCRIPTOR sd, UINT64* id) {
  CLock lock;
  if (!Ours(engineHandle)) return ERROR_INVALID_HANDLE;
  if (filter == nullptr) return ERROR_INVALID_PARAMETER;
  ++g_adds;
  const bool refuse = g_failAdd != 0 && g_adds == g_failAdd;
  const UINT64 given = refuse ? 0 : g_nextId++;
  char weight[64];
  switch (filter->weight.type) {
    case FWP_EMPTY: std::snprintf(weight, sizeof(weight), "type=empty"); break;
    case FWP_UINT8: std::snprintf(weight, sizeof(weight), "type=uint8 weight=0x%02x", filter->weight.uint8); break;
    case FWP_UINT64:
      std::snprintf(weight, sizeof(weight), "type=uint64 weight=0x%016llx",
                    filter->weight.uint64 != nullptr ? static_cast<unsigned long long>(*filter->weight.uint64) : 0ull);
      break;
    default: std::snprintf(weight, sizeof(weight), "type=%d", static_cast<int>(filter->weight.type)); break;
  }
  Record("filter add=%u result=0x%08lx id=%llu layer=%s sublayer=%s provider=%s weight-%s action=0x%08x "
         "flags=0x%08x conditions=%u sd=%s name=%s",
         g_adds, static_cast<unsigned long>(refuse ? kRefusedAdd : ERROR_SUCCESS),
         static_cast<unsigned long long>(given), CGuidText(&filter->layerKey).text,
         CGuidText(&filter->subLayerKey).text, CGuidText(filter->providerKey).text, weight,
         static_cast<unsigned>(filter->action.type), static_cast<unsigned>(filter->flags),
         static_cast<unsigned>(filter->numFilterConditions), sd != nullptr ? "given" : "null",
         CNameText(filter->displayData.name).text);
  for (UINT32 i = 0; i < filter->numFilterConditions && filter->filterCondition != nullptr; ++i) {
    const FWPM_FILTER_CONDITION0& c = filter->filterCondition[i];
    char value[128];
    FormatValue(c.conditionValue, value, sizeof(value));
    Record("condition field=%s match=%s %s", CGuidText(&c.fieldKey).text, MatchName(c.matchType), value);
  }
  if (refuse) return kRefusedAdd;
  if (id != nullptr) *id = given;
  return ERROR_SUCCESS;
}

DWORD WINAPI FwpmFilterDeleteById0(HANDLE engineHandle, UINT64 id) {
  CLock lock;
  if (!Ours(engineHandle)) return ERROR_INVALID_HANDLE;
  Record("delete id=%llu", static_cast<unsigned long long>(id));
  return ERROR_SUCCESS;
}

void WINAPI FwpmFreeMemory0(void** p) {
  if (p != nullptr) *p = nullptr;  // the recorder never hands memory out
}

}  // extern "C"
