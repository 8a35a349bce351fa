#pragma once
// The filtering engine of Windows through fwpuclnt.dll, loaded at run time by name: a static
// import would keep the program from starting where the library is missing, and Wine's copy
// is made of stubs, some of which raise when called. Nothing here calls the library before
// Open, and WfpProbe calls it only once the Base Filtering Engine service is known to run.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "wfpfilter/wfp_engine_port.h"

constexpr char kFwpLibrary[] = "fwpuclnt.dll";

// Our provider and sublayer (FWPM_PROVIDER0::providerKey, FWPM_SUBLAYER0::subLayerKey), as
// `netsh wfp show filters` prints them. A session takes the first pair, or the second while
// another session (the copy a hand-over takes protection from) holds the first: two dynamic
// sessions may not add objects with one key (FWP_E_ALREADY_EXISTS). Same weight and filters.
constexpr int kTavrickKeyPairs = 2;
constexpr char kTavrickProviderKeyText[] = "9f166ccf-3a50-4df5-a6ec-c0a50be0df9f";
constexpr char kTavrickSubLayerKeyText[] = "752981f6-4fc3-47b2-a2d3-bcf137aecd83";
constexpr char kTavrickProviderKey2Text[] = "3c5d2a71-8e04-4b9f-9d21-6a47e0135cb8";
constexpr char kTavrickSubLayerKey2Text[] = "d41f6e09-27b3-4c6a-b58e-0f923d71a45e";

class CWin32WfpEngine : public IWfpEngine {
 public:
  // `library` is a name looked for in the system folder only, or a path (the tests give the
  // recorder's).
  explicit CWin32WfpEngine(const char* library = kFwpLibrary);
  ~CWin32WfpEngine() override;
  CWin32WfpEngine(const CWin32WfpEngine&) = delete;
  CWin32WfpEngine& operator=(const CWin32WfpEngine&) = delete;

  // Loads the library and looks every function up, calling none of them: 0, the loader's
  // error (ERROR_MOD_NOT_FOUND), or ERROR_PROC_NOT_FOUND with the name in MissingFunction().
  WfpStatus Load();
  const std::string& MissingFunction() const { return m_missing; }

  WfpStatus Open() override;
  void Close() override;
  WfpStatus BeginTransaction() override;
  WfpStatus CommitTransaction() override;
  WfpStatus AbortTransaction() override;
  WfpStatus AddFilter(const CWfpFilterSpec& filter, uint64_t* id) override;
  WfpStatus DeleteFilter(uint64_t id) override;

  bool IsOpen() const { return m_engine != nullptr; }
  int KeyPair() const { return m_keyPair; }  // which of the two pairs the open session holds

 private:
  WfpStatus OpenWithKeys(int pair);

  struct Functions;
  std::string m_library;
  std::string m_missing;
  HMODULE m_module = nullptr;
  std::unique_ptr<Functions> m_fn;
  HANDLE m_engine = nullptr;
  int m_keyPair = 0;
};

// Whether the user-mode packet filter can work on this system, checked in this order.
enum class WfpAvailability : uint8_t {
  kAvailable,
  kLibraryMissing,   // fwpuclnt.dll or one of its functions
  kServiceMissing,   // no Base Filtering Engine service, or it cannot be queried (Wine)
  kServiceStopped,   // the service exists but does not run
  kNotElevated,      // the process runs without administrator rights
  kEngineRefused,    // the engine would not open a session, or refused our provider or sublayer
};

struct CWfpProbeResult {
  WfpAvailability availability = WfpAvailability::kLibraryMissing;
  uint32_t code = 0;     // the failing call's own code; 0 when available
  std::string message;   // GBK, names what is missing; empty when available
  bool Available() const { return availability == WfpAvailability::kAvailable; }
};

// The library and its functions, the BFE service, the elevated token, then one dynamic
// session with our provider and sublayer, closed again (its objects go with it).
// askService false leaves the service out (the setting forces the user-mode filter: the
// engine's own answer then says whether it runs; Wine's stubs of these calls return errors).
CWfpProbeResult WfpProbe(const char* library = kFwpLibrary, bool askService = true);
