// The filtering engine's Win32 side against the recording stand-in of fwpuclnt.dll (loaded by
// its path from bin/fwp-recorder), and the availability probe against Wine's own library.
// The expected keys and constants are written here from Microsoft's documentation and SDK
// headers, not taken from the engine's source.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/crt_text.h"
#include "common/ip_entries.h"
#include "driver/driver_link.h"
#include "driver/driver_win32.h"
#include "scratch_dir_win32.h"
#include "wfpfilter/user_mode_device.h"
#include "wfpfilter/wfp_engine_win32.h"

namespace {

// Management filtering layer identifiers and filtering condition identifiers (fwpmu.h).
constexpr char kInboundIpPacketV4[] = "c86fd1bf-21cd-497e-a0bb-17425c885c58";
constexpr char kOutboundIpPacketV4[] = "1e5c9fae-8a84-4135-a331-950b54229ecd";
constexpr char kInboundTransportV4[] = "5926dfc8-e3cf-4426-a283-dc393f5d0f9d";
constexpr char kOutboundTransportV4[] = "09e61aea-d214-46e2-9b21-b26b0b2f28c8";
constexpr char kRemoteAddress[] = "b235ae9a-1d64-49b8-a44c-5ff3d9095045";
constexpr char kLocalAddress[] = "d9ee00de-c1ef-4617-bfe3-ffd8f5a08957";
constexpr char kProtocol[] = "3971ef2b-623e-4f9a-8cb1-6e79b806b9a7";
constexpr char kLocalPort[] = "0c1ba1af-5765-453f-af22-a8f791ac775b";  // also ICMP type
// FWP_ACTION_BLOCK and FWP_ACTION_PERMIT: 0x1 and 0x2 with FWP_ACTION_FLAG_TERMINATING.
constexpr char kBlock[] = "0x00001001";
constexpr char kPermit[] = "0x00001002";

std::string RecorderPath() { return ProgramFolder() + "\\fwp-recorder\\fwpuclnt.dll"; }

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// One recorded call: its verb and its key=value words.
struct CCall {
  std::string verb;
  std::map<std::string, std::string> words;
  std::string operator[](const std::string& key) const {
    const auto it = words.find(key);
    return it == words.end() ? std::string("<none>") : it->second;
  }
};

std::vector<CCall> ReadRecord(const std::string& path) {
  std::vector<CCall> calls;
  std::istringstream lines(ReadWholeFile(path));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::istringstream words(line);
    CCall call;
    words >> call.verb;
    std::string word;
    while (words >> word) {
      const auto eq = word.find('=');
      if (eq != std::string::npos) call.words[word.substr(0, eq)] = word.substr(eq + 1);
    }
    calls.push_back(call);
  }
  return calls;
}

std::vector<std::string> Verbs(const std::vector<CCall>& calls) {
  std::vector<std::string> verbs;
  for (const auto& c : calls) verbs.push_back(c.verb);
  return verbs;
}

class Win32WfpEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    m_record = m_dir.File("fwp-record.txt");
    SetEnvironmentVariableA("TAVRICK_FWP_RECORD", m_record.c_str());
    SetEnvironmentVariableA("TAVRICK_FWP_FAIL_ADD", nullptr);
    SetEnvironmentVariableA("TAVRICK_FWP_FAIL_OPEN", nullptr);
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(RecorderPath().c_str())) << RecorderPath();
  }
  void TearDown() override {
    SetEnvironmentVariableA("TAVRICK_FWP_RECORD", nullptr);
    SetEnvironmentVariableA("TAVRICK_FWP_FAIL_ADD", nullptr);
    SetEnvironmentVariableA("TAVRICK_FWP_FAIL_OPEN", nullptr);
  }
  std::vector<CCall> Record() const { return ReadRecord(m_record); }
  // The filter lines with the conditions that follow each.
  std::vector<std::pair<CCall, std::vector<CCall>>> Filters() const {
    std::vector<std::pair<CCall, std::vector<CCall>>> filters;
    for (const auto& c : Record()) {
      if (c.verb == "filter") filters.push_back({c, {}});
      if (c.verb == "condition" && !filters.empty()) filters.back().second.push_back(c);
    }
    return filters;
  }

  CScratchDir m_dir;
  std::string m_record;
};

TEST_F(Win32WfpEngine, OpensOneDynamicSessionWithOurProviderAndSublayer) {
  CWin32WfpEngine engine(RecorderPath().c_str());
  ASSERT_EQ(kWfpOk, engine.Open());
  EXPECT_TRUE(engine.IsOpen());
  EXPECT_EQ(kWfpOk, engine.Open());  // already open: no second session
  engine.Close();
  EXPECT_FALSE(engine.IsOpen());

  const auto calls = Record();
  ASSERT_EQ((std::vector<std::string>{"open", "provider", "sublayer", "close"}), Verbs(calls));
  EXPECT_EQ("0x00000001", calls[0]["session-flags"]);  // FWPM_SESSION_FLAG_DYNAMIC
  EXPECT_EQ("10", calls[0]["authn"]);                   // RPC_C_AUTHN_WINNT
  EXPECT_EQ("local", calls[0]["server"]);
  EXPECT_EQ("null", calls[0]["identity"]);
  EXPECT_EQ(kTavrickProviderKeyText, calls[1]["key"]);
  EXPECT_EQ("0x00000000", calls[1]["flags"]);  // not persistent: it goes with the session
  EXPECT_EQ("Tavrick", calls[1]["name"]);
  EXPECT_EQ(kTavrickSubLayerKeyText, calls[2]["key"]);
  EXPECT_EQ(kTavrickProviderKeyText, calls[2]["provider"]);
  EXPECT_EQ("0xf000", calls[2]["weight"]);
  EXPECT_EQ("0x00000000", calls[2]["flags"]);
  EXPECT_EQ("Tavrick", calls[2]["name"]);
  EXPECT_NE(std::string(kTavrickProviderKeyText), kTavrickSubLayerKeyText);
}

// During a hand-over the copy that ends still holds its session (and its filters) while the
// copy that takes over opens its own: the engine refuses a second session the same keys.
TEST_F(Win32WfpEngine, ASessionBesideAnotherCopysTakesTheSecondKeyPairForItsFilters) {
  std::vector<HANDLE> otherSession;  // the first pair, held as the recorder holds a session's keys
  for (const char* key : {kTavrickProviderKeyText, kTavrickSubLayerKeyText})
    otherSession.push_back(CreateMutexA(nullptr, FALSE, (std::string("Local\\tavrick-fwp-recorder-") + key).c_str()));
  {
    CWin32WfpEngine engine(RecorderPath().c_str());
    ASSERT_EQ(kWfpOk, engine.Open());
    EXPECT_EQ(1, engine.KeyPair());
    ASSERT_EQ(kWfpOk, engine.BeginTransaction());
    uint64_t id = 0;
    ASSERT_EQ(kWfpOk, engine.AddFilter(MakeFilter(WfpLayer::kInboundIpPacketV4, WfpAction::kBlock, 5,
                                              {MakeCondition(WfpField::kRemoteAddress, WfpValue::kUint32, 1)}),
                                       &id));
    ASSERT_EQ(kWfpOk, engine.CommitTransaction());
    engine.Close();
  }
  for (HANDLE h : otherSession) CloseHandle(h);
  const auto calls = Record();
  ASSERT_EQ((std::vector<std::string>{"open", "provider", "close", "open", "provider", "sublayer", "begin", "filter",
                                      "condition", "commit", "close"}),
            Verbs(calls));
  EXPECT_EQ("0x80320009", calls[1]["result"]);  // FWP_E_ALREADY_EXISTS
  EXPECT_EQ(kTavrickProviderKey2Text, calls[4]["key"]);
  EXPECT_EQ(kTavrickSubLayerKey2Text, calls[5]["key"]);
  EXPECT_EQ(kTavrickProviderKey2Text, calls[5]["provider"]);
  EXPECT_EQ("0xf000", calls[5]["weight"]);
  EXPECT_EQ(kTavrickSubLayerKey2Text, calls[7]["sublayer"]);
  EXPECT_EQ(kTavrickProviderKey2Text, calls[7]["provider"]);

  // Once the other session has gone, the next session has the first pair again.
  CWin32WfpEngine next(RecorderPath().c_str());
  ASSERT_EQ(kWfpOk, next.Open());
  EXPECT_EQ(0, next.KeyPair());
  next.Close();
  EXPECT_EQ(kTavrickProviderKeyText, Record()[12]["key"]);
}

TEST_F(Win32WfpEngine, FiltersCarryTheDocumentedKeysTypesAndHostOrderValues) {
  CWin32WfpEngine engine(RecorderPath().c_str());
  ASSERT_EQ(kWfpOk, engine.Open());
  ASSERT_EQ(kWfpOk, engine.BeginTransaction());
  uint64_t id = 0;
  // 203.0.113.7 exactly, inbound at the packet layer.
  ASSERT_EQ(kWfpOk, engine.AddFilter(MakeFilter(WfpLayer::kInboundIpPacketV4, WfpAction::kBlock, 5,
                                            {MakeCondition(WfpField::kRemoteAddress, WfpValue::kUint32, 0xCB007107)}),
                                     &id));
  // 61.135.0.0/16 outbound.
  ASSERT_EQ(kWfpOk, engine.AddFilter(MakeFilter(WfpLayer::kOutboundIpPacketV4, WfpAction::kBlock, 5,
                                            {MakeCondition(WfpField::kRemoteAddress, WfpValue::kAddressMask,
                                                       0x3D870000, 0xFFFF0000)}),
                                     &id));
  // 61.0.5.0 - 61.255.5.255 as one of its ranges, TCP to local port 80, inbound transport.
  ASSERT_EQ(kWfpOk, engine.AddFilter(MakeFilter(WfpLayer::kInboundTransportV4, WfpAction::kBlock, 5,
                                            {MakeCondition(WfpField::kRemoteAddress, WfpValue::kRange,
                                                       0x3D000500, 0x3D0005FF),
                                             MakeCondition(WfpField::kProtocol, WfpValue::kUint8, 6),
                                             MakeCondition(WfpField::kLocalPort, WfpValue::kUint16, 80)}),
                                     &id));
  // An exception for a local address, outbound transport, heavier.
  ASSERT_EQ(kWfpOk, engine.AddFilter(MakeFilter(WfpLayer::kOutboundTransportV4, WfpAction::kPermit, 10,
                                            {MakeCondition(WfpField::kLocalAddress, WfpValue::kUint32, 0xC0A80102)}),
                                     &id));
  ASSERT_EQ(kWfpOk, engine.CommitTransaction());
  engine.Close();

  const auto filters = Filters();
  ASSERT_EQ(4u, filters.size());
  const char* layers[] = {kInboundIpPacketV4, kOutboundIpPacketV4, kInboundTransportV4, kOutboundTransportV4};
  for (size_t i = 0; i < filters.size(); ++i) {
    const CCall& f = filters[i].first;
    SCOPED_TRACE(i);
    EXPECT_EQ(layers[i], f["layer"]);
    EXPECT_EQ(kTavrickSubLayerKeyText, f["sublayer"]);
    EXPECT_EQ(kTavrickProviderKeyText, f["provider"]);
    EXPECT_EQ("uint8", f["weight-type"]);
    EXPECT_EQ("0x00000000", f["flags"]);
    EXPECT_EQ("null", f["sd"]);
    EXPECT_EQ("Tavrick", f["name"]);
    EXPECT_EQ(std::to_string(filters[i].second.size()), f["conditions"]);
  }
  EXPECT_EQ(kBlock, filters[0].first["action"]);
  EXPECT_EQ("0x05", filters[0].first["weight"]);
  EXPECT_EQ(kPermit, filters[3].first["action"]);
  EXPECT_EQ("0x0a", filters[3].first["weight"]);

  const CCall& exact = filters[0].second.at(0);
  EXPECT_EQ(kRemoteAddress, exact["field"]);
  EXPECT_EQ("equal", exact["match"]);
  EXPECT_EQ("uint32", exact["type"]);
  EXPECT_EQ("0xcb007107", exact["value"]);  // 203.0.113.7 in host order

  const CCall& prefix = filters[1].second.at(0);
  EXPECT_EQ(kRemoteAddress, prefix["field"]);
  EXPECT_EQ("equal", prefix["match"]);
  EXPECT_EQ("v4-addr-mask", prefix["type"]);
  EXPECT_EQ("0x3d870000", prefix["addr"]);
  EXPECT_EQ("0xffff0000", prefix["mask"]);

  const auto& ported = filters[2].second;
  ASSERT_EQ(3u, ported.size());
  EXPECT_EQ(kRemoteAddress, ported[0]["field"]);
  EXPECT_EQ("range", ported[0]["match"]);
  EXPECT_EQ("range", ported[0]["type"]);
  EXPECT_EQ("3", ported[0]["low-type"]);  // FWP_UINT32
  EXPECT_EQ("3", ported[0]["high-type"]);
  EXPECT_EQ("0x3d000500", ported[0]["low"]);
  EXPECT_EQ("0x3d0005ff", ported[0]["high"]);
  EXPECT_EQ(kProtocol, ported[1]["field"]);
  EXPECT_EQ("equal", ported[1]["match"]);
  EXPECT_EQ("uint8", ported[1]["type"]);
  EXPECT_EQ("0x06", ported[1]["value"]);
  EXPECT_EQ(kLocalPort, ported[2]["field"]);
  EXPECT_EQ("uint16", ported[2]["type"]);
  EXPECT_EQ("0x0050", ported[2]["value"]);  // port 80 in host order

  const CCall& local = filters[3].second.at(0);
  EXPECT_EQ(kLocalAddress, local["field"]);
  EXPECT_EQ("0xc0a80102", local["value"]);
}

TEST_F(Win32WfpEngine, TransactionsBracketTheAddsAndIdsComeBackForDeletion) {
  CWin32WfpEngine engine(RecorderPath().c_str());
  ASSERT_EQ(kWfpOk, engine.Open());
  const CWfpFilterSpec block =
      MakeFilter(WfpLayer::kInboundIpPacketV4, WfpAction::kBlock, 5,
             {MakeCondition(WfpField::kRemoteAddress, WfpValue::kUint32, 0x01020304)});
  uint64_t first = 0, second = 0, third = 0;
  ASSERT_EQ(kWfpOk, engine.BeginTransaction());
  ASSERT_EQ(kWfpOk, engine.AddFilter(block, &first));
  ASSERT_EQ(kWfpOk, engine.AddFilter(block, &second));
  ASSERT_EQ(kWfpOk, engine.CommitTransaction());
  ASSERT_EQ(kWfpOk, engine.BeginTransaction());
  ASSERT_EQ(kWfpOk, engine.AddFilter(block, &third));
  ASSERT_EQ(kWfpOk, engine.AbortTransaction());
  ASSERT_EQ(kWfpOk, engine.DeleteFilter(second));
  engine.Close();

  EXPECT_NE(0u, first);
  EXPECT_NE(first, second);
  EXPECT_NE(second, third);
  const auto calls = Record();
  EXPECT_EQ((std::vector<std::string>{"open", "provider", "sublayer", "begin", "filter", "condition", "filter",
                                      "condition", "commit", "begin", "filter", "condition", "abort", "delete",
                                      "close"}),
            Verbs(calls));
  EXPECT_EQ("0x00000000", calls[3]["flags"]);
  EXPECT_EQ(std::to_string(first), calls[4]["id"]);
  EXPECT_EQ(std::to_string(second), calls[13]["id"]);
}

TEST_F(Win32WfpEngine, EngineCodesComeBackAsTheyAre) {
  {
    SetEnvironmentVariableA("TAVRICK_FWP_FAIL_ADD", "2");
    CWin32WfpEngine engine(RecorderPath().c_str());
    ASSERT_EQ(kWfpOk, engine.Open());
    const CWfpFilterSpec block =
        MakeFilter(WfpLayer::kInboundIpPacketV4, WfpAction::kBlock, 5,
               {MakeCondition(WfpField::kRemoteAddress, WfpValue::kAddressMask, 0x3D870000, 0xFFFF0000)});
    uint64_t id = 0;
    EXPECT_EQ(kWfpOk, engine.AddFilter(block, &id));
    uint64_t refused = 777;
    EXPECT_EQ(0x8032001Fu, engine.AddFilter(block, &refused));  // FWP_E_INVALID_NET_MASK
    EXPECT_EQ(777u, refused);
    EXPECT_EQ(kWfpOk, engine.AddFilter(block, &id));
    engine.Close();
    SetEnvironmentVariableA("TAVRICK_FWP_FAIL_ADD", nullptr);
  }
  {
    SetEnvironmentVariableA("TAVRICK_FWP_FAIL_OPEN", "1");
    CWin32WfpEngine engine(RecorderPath().c_str());
    EXPECT_EQ(static_cast<WfpStatus>(ERROR_ACCESS_DENIED), engine.Open());
    EXPECT_FALSE(engine.IsOpen());
    uint64_t id = 0;
    EXPECT_EQ(static_cast<WfpStatus>(ERROR_INVALID_HANDLE), engine.AddFilter(CWfpFilterSpec(), &id));
    EXPECT_EQ(static_cast<WfpStatus>(ERROR_INVALID_HANDLE), engine.BeginTransaction());
    SetEnvironmentVariableA("TAVRICK_FWP_FAIL_OPEN", nullptr);
  }
  {
    CWin32WfpEngine engine("tavrick-no-such-library.dll");
    EXPECT_EQ(static_cast<WfpStatus>(ERROR_MOD_NOT_FOUND), engine.Open());
  }
  {
    CWin32WfpEngine engine("kernel32.dll");  // loads, but has none of the functions
    EXPECT_EQ(static_cast<WfpStatus>(ERROR_PROC_NOT_FOUND), engine.Open());
    EXPECT_EQ("FwpmEngineOpen0", engine.MissingFunction());
  }
  const auto filters = Filters();
  ASSERT_EQ(3u, filters.size());
  EXPECT_EQ("0x8032001f", filters[1].first["result"]);
  EXPECT_EQ("0x00000000", filters[2].first["result"]);
}

_CIPFilter Block(const char* ip) {
  _CIPFilter e;
  e.dwIp = InetAddr(ip);
  e.dwPort = PortFromText("0");
  return e;
}

// The user-mode device on this engine behind the driver link, as the program wires it.
class CDeviceOnRecorder {
 public:
  CDeviceOnRecorder()
      : m_engine(RecorderPath().c_str()),
        m_device(m_engine, nullptr, [this](const std::string& line) { log.push_back(line); }),
        m_previous(DevicePort()) {
    SetDevicePort(&m_device);
  }
  ~CDeviceOnRecorder() {
    if (g_hDevice.load() != kInvalidDevice) StopDriverSequence();
    SetDevicePort(m_previous);
  }
  int Start() {
    const int started = StartDriverSequence(CIpOuterList(), CIpFilterList(), [](int) {});
    if (started == kStartOk) MarkRunning();
    return started;
  }
  CUserModeDevice& Device() { return m_device; }
  std::vector<std::string> log;

 private:
  CWin32WfpEngine m_engine;
  CUserModeDevice m_device;
  IDevice* m_previous;
};

TEST_F(Win32WfpEngine, ThroughTheDriverLinkAPrefixIsOneMaskAndARefusedAddIsARefusedCommand) {
  size_t addsAtStart = 0, addsForOneBlock = 0;
  {
    CDeviceOnRecorder link;
    ASSERT_EQ(kStartOk, link.Start());
    const size_t before = Filters().size();
    addsAtStart = before;
    const _CIPFilter prefix = Block("61.135.0.0");
    EXPECT_EQ(1, AddBlock(&prefix));
    const auto filters = Filters();
    addsForOneBlock = filters.size() - before;
    ASSERT_GT(addsForOneBlock, 0u);
    std::vector<std::string> layers;
    for (size_t i = before; i < filters.size(); ++i) {
      SCOPED_TRACE(i);
      const auto& conditions = filters[i].second;
      EXPECT_EQ(kBlock, filters[i].first["action"]);
      ASSERT_EQ(1u, conditions.size());  // port 0: the address on every protocol
      EXPECT_EQ(kRemoteAddress, conditions[0]["field"]);
      EXPECT_EQ("equal", conditions[0]["match"]);
      EXPECT_EQ("v4-addr-mask", conditions[0]["type"]);
      EXPECT_EQ("0x3d870000", conditions[0]["addr"]);  // 61.135.0.0, host order
      EXPECT_EQ("0xffff0000", conditions[0]["mask"]);  // 255.255.0.0
      layers.push_back(filters[i].first["layer"]);
    }
    EXPECT_NE(layers.end(), std::find(layers.begin(), layers.end(), kInboundIpPacketV4));
    EXPECT_NE(layers.end(), std::find(layers.begin(), layers.end(), kOutboundIpPacketV4));
  }
  const size_t recordedBefore = Record().size();
  {
    // The second entry's first add is refused by the engine.
    SetEnvironmentVariableA("TAVRICK_FWP_FAIL_ADD", std::to_string(addsAtStart + addsForOneBlock + 1).c_str());
    CDeviceOnRecorder link;
    ASSERT_EQ(kStartOk, link.Start());
    const _CIPFilter first = Block("61.135.0.0");
    const _CIPFilter second = Block("198.51.100.0");
    EXPECT_EQ(1, AddBlock(&first));
    EXPECT_EQ(0, AddBlock(&second));
    EXPECT_EQ(1u, link.Device().BlockCount());
    bool logged = false;
    for (const auto& line : link.log) logged = logged || line.find("8032001F") != std::string::npos;
    EXPECT_TRUE(logged) << (link.log.empty() ? std::string("no log line") : link.log.back());
    SetEnvironmentVariableA("TAVRICK_FWP_FAIL_ADD", nullptr);
  }
  const auto calls = Record();
  ASSERT_GT(calls.size(), recordedBefore);
  bool refused = false, abortedAfter = false;
  for (size_t i = recordedBefore; i < calls.size(); ++i) {
    if (calls[i].verb == "filter" && calls[i]["result"] == "0x8032001f") refused = true;
    if (refused && calls[i].verb == "abort") abortedAfter = true;
  }
  EXPECT_TRUE(refused);
  EXPECT_TRUE(abortedAfter);  // nothing of the refused command is left committed
}

TEST_F(Win32WfpEngine, ProbeUnderWineSaysTheServiceIsMissingWithoutCallingTheLibrary) {
  if (!UnderWine()) GTEST_SKIP() << "the BFE service exists on Windows";
  // Wine's own fwpuclnt.dll: present with every export, but no BFE service behind it.
  const CWfpProbeResult own = WfpProbe();
  EXPECT_EQ(WfpAvailability::kServiceMissing, own.availability);
  EXPECT_EQ(static_cast<uint32_t>(ERROR_SERVICE_DOES_NOT_EXIST), own.code);
  EXPECT_NE(std::string::npos, own.message.find("BFE")) << own.message;
  EXPECT_FALSE(own.Available());

  // The recorder in its place: the probe stops at the service, before any engine call.
  const CWfpProbeResult recorded = WfpProbe(RecorderPath().c_str());
  EXPECT_EQ(WfpAvailability::kServiceMissing, recorded.availability);
  EXPECT_TRUE(Record().empty());

  const CWfpProbeResult missing = WfpProbe("tavrick-no-such-library.dll");
  EXPECT_EQ(WfpAvailability::kLibraryMissing, missing.availability);
  EXPECT_EQ(static_cast<uint32_t>(ERROR_MOD_NOT_FOUND), missing.code);
  EXPECT_NE(std::string::npos, missing.message.find("fwpuclnt.dll")) << missing.message;
}

}  // namespace
