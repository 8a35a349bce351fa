#include "wfpfilter/wfp_engine_win32.h"

#include <fwpmu.h>
#include <winsvc.h>

#include <cstddef>
#include <cstdio>
#include <type_traits>
#include <utility>
#include <vector>

#ifndef FWPM_SESSION_FLAG_DYNAMIC
#define FWPM_SESSION_FLAG_DYNAMIC 0x00000001  // fwpmtypes.h of the Windows SDK
#endif

namespace {

// The headers here declare the structures and functions but not the built-in layer and
// condition keys. Values from the Windows SDK's fwpmu.h, each checked against the Win32
// metadata's projection of the same constants.
constexpr GUID kLayerInboundIpPacketV4 =  // c86fd1bf-21cd-497e-a0bb-17425c885c58
    {0xc86fd1bf, 0x21cd, 0x497e, {0xa0, 0xbb, 0x17, 0x42, 0x5c, 0x88, 0x5c, 0x58}};
constexpr GUID kLayerOutboundIpPacketV4 =  // 1e5c9fae-8a84-4135-a331-950b54229ecd
    {0x1e5c9fae, 0x8a84, 0x4135, {0xa3, 0x31, 0x95, 0x0b, 0x54, 0x22, 0x9e, 0xcd}};
constexpr GUID kLayerInboundTransportV4 =  // 5926dfc8-e3cf-4426-a283-dc393f5d0f9d
    {0x5926dfc8, 0xe3cf, 0x4426, {0xa2, 0x83, 0xdc, 0x39, 0x3f, 0x5d, 0x0f, 0x9d}};
constexpr GUID kLayerOutboundTransportV4 =  // 09e61aea-d214-46e2-9b21-b26b0b2f28c8
    {0x09e61aea, 0xd214, 0x46e2, {0x9b, 0x21, 0xb2, 0x6b, 0x0b, 0x2f, 0x28, 0xc8}};

constexpr GUID kConditionIpRemoteAddress =  // b235ae9a-1d64-49b8-a44c-5ff3d9095045
    {0xb235ae9a, 0x1d64, 0x49b8, {0xa4, 0x4c, 0x5f, 0xf3, 0xd9, 0x09, 0x50, 0x45}};
constexpr GUID kConditionIpLocalAddress =  // d9ee00de-c1ef-4617-bfe3-ffd8f5a08957
    {0xd9ee00de, 0xc1ef, 0x4617, {0xbf, 0xe3, 0xff, 0xd8, 0xf5, 0xa0, 0x89, 0x57}};
constexpr GUID kConditionIpProtocol =  // 3971ef2b-623e-4f9a-8cb1-6e79b806b9a7
    {0x3971ef2b, 0x623e, 0x4f9a, {0x8c, 0xb1, 0x6e, 0x79, 0xb8, 0x06, 0xb9, 0xa7}};
// Also FWPM_CONDITION_ICMP_TYPE: the SDK defines that name as this key.
constexpr GUID kConditionIpLocalPort =  // 0c1ba1af-5765-453f-af22-a8f791ac775b
    {0x0c1ba1af, 0x5765, 0x453f, {0xaf, 0x22, 0xa8, 0xf7, 0x91, 0xac, 0x77, 0x5b}};

// Ours: the first pair (kTavrickProviderKeyText, kTavrickSubLayerKeyText), and the second
// (kTavrickProviderKey2Text, kTavrickSubLayerKey2Text) a session takes while another session
// holds the first one (the copy it takes over from).
struct CSessionKeys {
  GUID provider;
  GUID subLayer;
};
constexpr CSessionKeys kTavrickKeys[kTavrickKeyPairs] = {
    {{0x9f166ccf, 0x3a50, 0x4df5, {0xa6, 0xec, 0xc0, 0xa5, 0x0b, 0xe0, 0xdf, 0x9f}},
     {0x752981f6, 0x4fc3, 0x47b2, {0xa2, 0xd3, 0xbc, 0xf1, 0x37, 0xae, 0xcd, 0x83}}},
    {{0x3c5d2a71, 0x8e04, 0x4b9f, {0x9d, 0x21, 0x6a, 0x47, 0xe0, 0x13, 0x5c, 0xb8}},
     {0xd41f6e09, 0x27b3, 0x4c6a, {0xb5, 0x8e, 0x0f, 0x92, 0x3d, 0x71, 0xa4, 0x5e}}},
};
// FWP_E_ALREADY_EXISTS: another session holds an object with that key.
constexpr WfpStatus kKeyHeldElsewhere = 0x80320009;

wchar_t kDisplayName[] = L"Tavrick";

// The mingw header declares FWPM_SUBLAYER0::flags as UINT16 where Microsoft's says UINT32;
// the pointer after it is aligned past both, so the layout the engine reads is the same.
static_assert(offsetof(FWPM_SUBLAYER0, providerKey) ==
                  offsetof(FWPM_SUBLAYER0, displayData) + sizeof(FWPM_DISPLAY_DATA0) +
                      (sizeof(void*) == 8 ? 8 : 4),
              "FWPM_SUBLAYER0 as the engine lays it out");

const GUID& LayerKey(WfpLayer layer) {
  switch (layer) {
    case WfpLayer::kInboundIpPacketV4: return kLayerInboundIpPacketV4;
    case WfpLayer::kOutboundIpPacketV4: return kLayerOutboundIpPacketV4;
    case WfpLayer::kInboundTransportV4: return kLayerInboundTransportV4;
    case WfpLayer::kOutboundTransportV4: return kLayerOutboundTransportV4;
  }
  return kLayerInboundIpPacketV4;
}

const GUID& FieldKey(WfpField field) {
  switch (field) {
    case WfpField::kRemoteAddress: return kConditionIpRemoteAddress;
    case WfpField::kLocalAddress: return kConditionIpLocalAddress;
    case WfpField::kProtocol: return kConditionIpProtocol;
    case WfpField::kLocalPort: return kConditionIpLocalPort;
  }
  return kConditionIpRemoteAddress;
}

struct CServiceCloser {
  void operator()(SC_HANDLE h) const { CloseServiceHandle(h); }
};
using ServiceHandle = std::unique_ptr<std::remove_pointer<SC_HANDLE>::type, CServiceCloser>;

struct CHandleCloser {
  void operator()(HANDLE h) const { CloseHandle(h); }
};
using OwnedHandle = std::unique_ptr<void, CHandleCloser>;

std::string Hex(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(code));
  return text;
}

}  // namespace

// One pointer per function the device needs, typed by the header's own declarations. The
// session memory FwpmFreeMemory0 releases is never asked for, so it is not looked up.
struct CWin32WfpEngine::Functions {
  decltype(&FwpmEngineOpen0) engineOpen = nullptr;
  decltype(&FwpmEngineClose0) engineClose = nullptr;
  decltype(&FwpmProviderAdd0) providerAdd = nullptr;
  decltype(&FwpmSubLayerAdd0) subLayerAdd = nullptr;
  decltype(&FwpmTransactionBegin0) transactionBegin = nullptr;
  decltype(&FwpmTransactionCommit0) transactionCommit = nullptr;
  decltype(&FwpmTransactionAbort0) transactionAbort = nullptr;
  decltype(&FwpmFilterAdd0) filterAdd = nullptr;
  decltype(&FwpmFilterDeleteById0) filterDeleteById = nullptr;
};

namespace {

// A bare name is the system's own library, taken from the system folder only: loaded by name
// the program's folder would come first, and a planted fwpuclnt.dll there would drive the
// engine (and see every entry) in an elevated process. A path is taken as it is (the tests').
std::string LibraryPath(const char* library) {
  const std::string name(library);
  if (name.find_first_of("\\/:") != std::string::npos) return name;
  char folder[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryA(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return name;
  return std::string(folder, n) + "\\" + name;
}

}  // namespace

CWin32WfpEngine::CWin32WfpEngine(const char* library) : m_library(LibraryPath(library)) {}

CWin32WfpEngine::~CWin32WfpEngine() {
  Close();
  if (m_module != nullptr) FreeLibrary(m_module);
}

WfpStatus CWin32WfpEngine::Load() {
  if (m_fn) return kWfpOk;
  if (m_module == nullptr) {
    m_module = LoadLibraryA(m_library.c_str());
    if (m_module == nullptr) {
      const DWORD error = GetLastError();
      return error != 0 ? error : ERROR_MOD_NOT_FOUND;
    }
  }
  auto fn = std::make_unique<Functions>();
  // Each name beside the slot it fills, so a missing one is named.
  const struct {
    const char* name;
    void* slot;
  } table[] = {
      {"FwpmEngineOpen0", &fn->engineOpen},
      {"FwpmEngineClose0", &fn->engineClose},
      {"FwpmProviderAdd0", &fn->providerAdd},
      {"FwpmSubLayerAdd0", &fn->subLayerAdd},
      {"FwpmTransactionBegin0", &fn->transactionBegin},
      {"FwpmTransactionCommit0", &fn->transactionCommit},
      {"FwpmTransactionAbort0", &fn->transactionAbort},
      {"FwpmFilterAdd0", &fn->filterAdd},
      {"FwpmFilterDeleteById0", &fn->filterDeleteById},
  };
  for (const auto& entry : table) {
    const FARPROC proc = GetProcAddress(m_module, entry.name);
    if (proc == nullptr) {
      m_missing = entry.name;
      return ERROR_PROC_NOT_FOUND;
    }
    *static_cast<FARPROC*>(entry.slot) = proc;
  }
  m_missing.clear();
  m_fn = std::move(fn);
  return kWfpOk;
}

WfpStatus CWin32WfpEngine::Open() {
  if (m_engine != nullptr) return kWfpOk;
  const WfpStatus loaded = Load();
  if (loaded != kWfpOk) return loaded;

  // A dynamic session: whatever it adds is deleted by the engine when the session ends, also
  // when the program crashes or is killed, as the driver stops filtering when its client goes.
  // Nothing of ours outlives the program, so a start never meets filters of an earlier run.
  // Only during a hand-over do two copies' sessions live at once: the later one finds the
  // first key pair held and takes the second, so its filters are in place before the earlier
  // session's go.
  WfpStatus status = kWfpOk;
  for (int pair = 0; pair < kTavrickKeyPairs; ++pair) {
    status = OpenWithKeys(pair);
    if (status != kKeyHeldElsewhere) break;
  }
  return status;
}

WfpStatus CWin32WfpEngine::OpenWithKeys(int pair) {
  FWPM_SESSION0 session{};
  session.displayData.name = kDisplayName;
  session.flags = FWPM_SESSION_FLAG_DYNAMIC;
  HANDLE engine = nullptr;
  DWORD status = m_fn->engineOpen(nullptr, RPC_C_AUTHN_WINNT, nullptr, &session, &engine);
  if (status != ERROR_SUCCESS) return status;
  m_engine = engine;
  m_keyPair = pair;

  GUID providerKey = kTavrickKeys[pair].provider;
  FWPM_PROVIDER0 provider{};
  provider.providerKey = providerKey;
  provider.displayData.name = kDisplayName;
  status = m_fn->providerAdd(m_engine, &provider, nullptr);
  if (status == ERROR_SUCCESS) {
    FWPM_SUBLAYER0 subLayer{};
    subLayer.subLayerKey = kTavrickKeys[pair].subLayer;
    subLayer.displayData.name = kDisplayName;
    subLayer.providerKey = &providerKey;
    subLayer.weight = kTavrickSubLayerWeight;
    status = m_fn->subLayerAdd(m_engine, &subLayer, nullptr);
  }
  if (status != ERROR_SUCCESS) Close();
  return status;
}

void CWin32WfpEngine::Close() {
  if (m_engine == nullptr) return;
  m_fn->engineClose(m_engine);
  m_engine = nullptr;
}

WfpStatus CWin32WfpEngine::BeginTransaction() {
  if (m_engine == nullptr) return ERROR_INVALID_HANDLE;
  return m_fn->transactionBegin(m_engine, 0);
}

WfpStatus CWin32WfpEngine::CommitTransaction() {
  if (m_engine == nullptr) return ERROR_INVALID_HANDLE;
  return m_fn->transactionCommit(m_engine);
}

WfpStatus CWin32WfpEngine::AbortTransaction() {
  if (m_engine == nullptr) return ERROR_INVALID_HANDLE;
  return m_fn->transactionAbort(m_engine);
}

WfpStatus CWin32WfpEngine::AddFilter(const CWfpFilterSpec& spec, uint64_t* id) {
  if (m_engine == nullptr) return ERROR_INVALID_HANDLE;
  const std::size_t n = spec.conditions.size();
  // Sized once: the conditions point into these until the call returns.
  std::vector<FWPM_FILTER_CONDITION0> conditions(n);
  std::vector<FWP_V4_ADDR_AND_MASK> masks(n);
  std::vector<FWP_RANGE0> ranges(n);
  for (std::size_t i = 0; i < n; ++i) {
    const CWfpCondition& c = spec.conditions[i];
    FWPM_FILTER_CONDITION0& out = conditions[i];
    out.fieldKey = FieldKey(c.field);
    out.matchType = FWP_MATCH_EQUAL;
    switch (c.kind) {
      case WfpValue::kUint8:
        out.conditionValue.type = FWP_UINT8;
        out.conditionValue.uint8 = static_cast<UINT8>(c.value);
        break;
      case WfpValue::kUint16:
        out.conditionValue.type = FWP_UINT16;
        out.conditionValue.uint16 = static_cast<UINT16>(c.value);
        break;
      case WfpValue::kUint32:
        out.conditionValue.type = FWP_UINT32;
        out.conditionValue.uint32 = c.value;
        break;
      case WfpValue::kAddressMask:
        masks[i].addr = c.value;
        masks[i].mask = c.second;
        out.conditionValue.type = FWP_V4_ADDR_MASK;
        out.conditionValue.v4AddrMask = &masks[i];
        break;
      case WfpValue::kRange:
        ranges[i].valueLow.type = FWP_UINT32;
        ranges[i].valueLow.uint32 = c.value;
        ranges[i].valueHigh.type = FWP_UINT32;
        ranges[i].valueHigh.uint32 = c.second;
        out.matchType = FWP_MATCH_RANGE;
        out.conditionValue.type = FWP_RANGE_TYPE;
        out.conditionValue.rangeValue = &ranges[i];
        break;
    }
  }

  GUID providerKey = kTavrickKeys[m_keyPair].provider;
  FWPM_FILTER0 filter{};
  filter.displayData.name = kDisplayName;
  filter.flags = 0;  // a soft permit: another sublayer's block still applies
  filter.providerKey = &providerKey;
  filter.layerKey = LayerKey(spec.layer);
  filter.subLayerKey = kTavrickKeys[m_keyPair].subLayer;
  filter.weight.type = FWP_UINT8;
  filter.weight.uint8 = spec.weight;
  filter.numFilterConditions = static_cast<UINT32>(n);
  filter.filterCondition = n != 0 ? conditions.data() : nullptr;
  filter.action.type = spec.action == WfpAction::kPermit ? FWP_ACTION_PERMIT : FWP_ACTION_BLOCK;

  UINT64 filterId = 0;
  const DWORD status = m_fn->filterAdd(m_engine, &filter, nullptr, &filterId);
  if (status == ERROR_SUCCESS && id != nullptr) *id = filterId;
  return status;
}

WfpStatus CWin32WfpEngine::DeleteFilter(uint64_t id) {
  if (m_engine == nullptr) return ERROR_INVALID_HANDLE;
  return m_fn->filterDeleteById(m_engine, id);
}

namespace {

CWfpProbeResult Unavailable(WfpAvailability availability, uint32_t code, std::string message) {
  CWfpProbeResult result;
  result.availability = availability;
  result.code = code;
  result.message = std::move(message);
  return result;
}

// Wine has no such service: the probe stops here there, before any call into its stubs.
CWfpProbeResult CheckBaseFilteringEngine() {
  const ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    const DWORD error = GetLastError();
    return Unavailable(WfpAvailability::kServiceMissing, error,
                       "无法查询基本筛选引擎服务(Base Filtering Engine, BFE),错误码 " + Hex(error) + "。");
  }
  const ServiceHandle service(OpenServiceA(manager.get(), "BFE", SERVICE_QUERY_STATUS));
  if (!service) {
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
      return Unavailable(WfpAvailability::kServiceMissing, error,
                         "本机没有基本筛选引擎服务(Base Filtering Engine, BFE),无法使用 Windows 筛选平台。");
    }
    return Unavailable(WfpAvailability::kServiceMissing, error,
                       "无法查询基本筛选引擎服务(Base Filtering Engine, BFE),错误码 " + Hex(error) + "。");
  }
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service.get(), &status)) {
    const DWORD error = GetLastError();
    return Unavailable(WfpAvailability::kServiceMissing, error,
                       "无法查询基本筛选引擎服务(Base Filtering Engine, BFE),错误码 " + Hex(error) + "。");
  }
  if (status.dwCurrentState != SERVICE_RUNNING) {
    return Unavailable(WfpAvailability::kServiceStopped, ERROR_SERVICE_NOT_ACTIVE,
                       "基本筛选引擎服务(Base Filtering Engine, BFE)没有运行,请在“服务”中启动它。");
  }
  return CWfpProbeResult{WfpAvailability::kAvailable, 0, std::string()};
}

CWfpProbeResult CheckElevation() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    const DWORD error = GetLastError();
    return Unavailable(WfpAvailability::kNotElevated, error,
                       "无法确认管理员权限(错误码 " + Hex(error) + "),请以管理员身份运行本程序。");
  }
  const OwnedHandle owner(token);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size)) {
    const DWORD error = GetLastError();
    return Unavailable(WfpAvailability::kNotElevated, error,
                       "无法确认管理员权限(错误码 " + Hex(error) + "),请以管理员身份运行本程序。");
  }
  if (elevation.TokenIsElevated == 0) {
    return Unavailable(WfpAvailability::kNotElevated, ERROR_ACCESS_DENIED,
                       "没有管理员权限:请以管理员身份运行本程序。");
  }
  return CWfpProbeResult{WfpAvailability::kAvailable, 0, std::string()};
}

}  // namespace

CWfpProbeResult WfpProbe(const char* library, bool askService) {
  CWin32WfpEngine engine(library);
  const WfpStatus loaded = engine.Load();
  if (loaded != kWfpOk) {
    std::string what = "fwpuclnt.dll";
    if (!engine.MissingFunction().empty()) what += " 中的 " + engine.MissingFunction();
    return Unavailable(WfpAvailability::kLibraryMissing, loaded,
                       "找不到 " + what + "(Windows 筛选平台),错误码 " + Hex(loaded) + "。");
  }
  if (askService) {
    CWfpProbeResult service = CheckBaseFilteringEngine();
    if (!service.Available()) return service;
  }
  CWfpProbeResult rights = CheckElevation();
  if (!rights.Available()) return rights;
  const WfpStatus opened = engine.Open();
  if (opened != kWfpOk) {
    return Unavailable(WfpAvailability::kEngineRefused, opened,
                       "Windows 筛选平台没有接受本程序的会话,错误码 " + Hex(opened) + "。");
  }
  engine.Close();
  return CWfpProbeResult{WfpAvailability::kAvailable, 0, std::string()};
}
