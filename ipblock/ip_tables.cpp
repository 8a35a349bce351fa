#include "ipblock/ip_tables.h"

#include <algorithm>
#include <deque>
#include <set>
#include <unordered_set>
#include <utility>

#include "common/clock.h"
#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/ip_lists.h"
#include "config/profile_store.h"
#include "driver/driver_link.h"
#include "ipblock/ip_pattern.h"

CIpFilterTable g_pIpFilterList;
CIpOuterTable g_pIpOuterList;

namespace {

constexpr int kExpiryPauseMs = 200;

// After an entry left the driver, a twin with the same address and port (possible after
// loading) would still be listed but no longer enforced: send it again.
void ResendTwin(uint32_t ip, uint32_t port) {
  for (const auto& f : g_pIpFilterList) {
    if (f->dwIp != ip || f->dwPort != port) continue;
    AddBlock(f.get());
    return;
  }
}

IProfileStore* g_pStore = nullptr;
IClock* g_pClock = nullptr;
PauseMilliseconds g_pause;
IListJournal* g_pJournal = nullptr;
bool g_bFiltersUnsaved = false;

std::string AddressAndPort(uint32_t ip, uint32_t port) {
  return InetNtoa(ip) + "|" + std::to_string(Ntohs(static_cast<uint16_t>(port)));
}

// The blocked table changed: into the journal now, into the file with the next save.
void FiltersChanged(const std::string& journalLine) {
  if (g_pJournal) g_pJournal->Append(journalLine);
  g_bFiltersUnsaved = true;
}

}  // namespace

// The one place where a table changes while the program runs.
class CIpTableWriter {
 public:
  // Sends the driver command; only when the driver accepted, changes the table, then saves it
  // (or marks it for the next save).
  template <class Entry, class Send, class Change, class Save>
  static bool Apply(CEntryTable<Entry>& table, Send send, Change change, Save save) {
    if (!send()) return false;
    change(table.m_list);
    save();
    return true;
  }
};

void SetIpFilterJournal(IListJournal* journal) { g_pJournal = journal; }

void ReplayIpFilterJournal(const std::string& journal, IClock& clock, CIpFilterList& filters) {
  std::set<std::pair<uint32_t, uint32_t>> listed;
  for (const auto& f : filters) listed.emplace(f->dwIp, f->dwPort);
  size_t start = 0;
  while (start < journal.size()) {
    const size_t end = journal.find('\n', start);
    // A last line without its line break may have been cut (an automatic entry without its
    // "|0" would come back as a pattern): it is left out.
    if (end == std::string::npos) break;
    std::string line = journal.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line == "*") {
      filters.clear();
      listed.clear();
    } else if (line[0] == '+') {
      CIpFilterList item;
      DecodeIpFilterList(line.substr(1), clock, item);  // a cut item reads as none
      if (item.size() != 1 || !listed.emplace(item[0]->dwIp, item[0]->dwPort).second) continue;
      filters.push_back(std::move(item[0]));
    } else if (line[0] == '-') {
      const size_t bar = line.find('|');
      if (bar == std::string::npos) continue;
      uint8_t octets[4];
      if (!ParseDottedQuad(line.substr(1, bar - 1), octets)) continue;
      const uint32_t ip = InetAddr(line.substr(1, bar - 1));
      const uint32_t port = PortFromText(line.substr(bar + 1));
      for (size_t i = filters.size(); i-- > 0;) {
        if (filters[i]->dwIp != ip || filters[i]->dwPort != port) continue;
        filters.erase(filters.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
      const bool twinLeft = std::any_of(filters.begin(), filters.end(),
                                        [&](const auto& f) { return f->dwIp == ip && f->dwPort == port; });
      if (!twinLeft) listed.erase({ip, port});
    }
  }
}

void SetIpTablePorts(IProfileStore* store, IClock* clock, PauseMilliseconds pause) {
  g_pStore = store;
  g_pClock = clock;
  g_pause = std::move(pause);
  g_bFiltersUnsaved = false;
}

void LoadConfiguration(IProfileStore& store, IClock& clock, CSettings& settings, CIpFilterTable& filters,
                       CIpOuterTable& exceptions) {
  CIpFilterList loadedFilters;
  CIpOuterList loadedExceptions;
  LoadConfiguration(store, clock, settings, loadedFilters, loadedExceptions);
  const std::string journal = g_pJournal ? g_pJournal->ReadAll() : std::string();
  if (!journal.empty()) ReplayIpFilterJournal(journal, clock, loadedFilters);
  filters.LoadAtStart(std::move(loadedFilters));
  exceptions.LoadAtStart(std::move(loadedExceptions));
  g_bFiltersUnsaved = false;
  // What the journal held goes into the file (and its good copy) before the journal goes.
  if (!journal.empty() && WriteIni(store, kConfigFile, ini::kIpFilter, "ipfilterlst", EncodeIpFilterList(filters)))
    g_pJournal->Clear();
}

bool FindIpFilter(uint32_t ip, uint32_t port) {
  return std::any_of(g_pIpFilterList.begin(), g_pIpFilterList.end(),
                     [&](const auto& f) { return f->dwIp == ip && f->dwPort == port; });
}

bool IsIpFiltered(uint32_t ip) {
  return std::any_of(g_pIpFilterList.begin(), g_pIpFilterList.end(),
                     [&](const auto& f) { return f->dwIp == ip; });
}

namespace {

EBlockProtection IpProtection(uint32_t ip) {
  for (const auto& e : g_pIpOuterList)
    if (MatchIpPattern(ip, e->dwIp)) return EBlockProtection::kException;
  const bool own = ip != 0 && std::any_of(g_saLocalIp.begin(), g_saLocalIp.end(),
                                          [&](const std::string& text) { return InetAddr(text) == ip; });
  if (own) return EBlockProtection::kOwnAddress;
  if (ip == g_dwServiceIp) return EBlockProtection::kServiceHost;
  return EBlockProtection::kNone;
}

// An exception, an own address or the service host among what the entry blocks when the
// driver reads it as exact (its address alone) or as a pattern (0 octets are wildcards).
EBlockProtection CoveredProtection(uint32_t entryIp, bool exact) {
  for (const auto& e : g_pIpOuterList)
    if (BlockMeetsPattern(entryIp, exact, e->dwIp)) return EBlockProtection::kException;
  const bool own = std::any_of(g_saLocalIp.begin(), g_saLocalIp.end(), [&](const std::string& text) {
    const uint32_t ip = InetAddr(text);
    return ip != 0 && BlockCovers(entryIp, exact, ip);
  });
  if (own) return EBlockProtection::kOwnAddress;
  if (BlockCovers(entryIp, exact, g_dwServiceIp)) return EBlockProtection::kServiceHost;
  return EBlockProtection::kNone;
}

std::function<void(const std::string& line)> g_heldBackLog;
uint64_t g_nHeldBackPatterns = 0;
// The addresses and ports told last, so a flood that asks again every second is told once.
constexpr size_t kHeldBackToldKept = 1024;
std::deque<uint64_t> g_heldBackOrder;
std::unordered_set<uint64_t> g_heldBackTold;

const char kHeldBackPatternText[] = "此驱动会把地址中的0当作任意值";

void TellHeldBackPattern(const _CIPFilter& entry) {
  ++g_nHeldBackPatterns;
  const uint64_t key = static_cast<uint64_t>(entry.dwIp) << 32 | entry.dwPort;
  if (!g_heldBackLog || !g_heldBackTold.insert(key).second) return;
  g_heldBackOrder.push_back(key);
  if (g_heldBackOrder.size() > kHeldBackToldKept) {
    g_heldBackTold.erase(g_heldBackOrder.front());
    g_heldBackOrder.pop_front();
  }
  g_heldBackLog(InetNtoa(entry.dwIp) + " 端口 " + std::to_string(Ntohs(static_cast<uint16_t>(entry.dwPort))) +
                " 自动封锁未发往驱动:" + kHeldBackPatternText + "(第" + std::to_string(g_nHeldBackPatterns) + "次)");
}

}  // namespace

bool IsIpProtected(uint32_t ip) { return IpProtection(ip) != EBlockProtection::kNone; }

EBlockProtection ProtectionOf(const _CIPFilter& entry) {
  // Every host on every port, whatever the type: the whole server would be cut off.
  if (entry.dwIp == 0 && entry.dwPort == 0) return EBlockProtection::kEveryHost;
  // A port-only block (address 0.0.0.0 with a port, the manual block's "指定PORT" alone)
  // closes one port of this server to everybody on purpose: it is checked as the one value
  // it names, not as a pattern covering the server itself.
  if (entry.dwIp == 0) return IpProtection(0);
  if (!IsExactEntry(entry)) return CoveredProtection(entry.dwIp, false);
  // The mark holds only on a driver that said it honours it; any other driver (the vendor's)
  // may read the entry's 0 octets as wildcards, so both readings must be safe.
  const EBlockProtection exact = CoveredProtection(entry.dwIp, true);
  if (exact != EBlockProtection::kNone || g_bDriverHonoursExact) return exact;
  return CoveredProtection(entry.dwIp, false);
}

bool IsBlockProtected(const _CIPFilter& entry) { return ProtectionOf(entry) != EBlockProtection::kNone; }

bool HeldBackAsPattern(const _CIPFilter& entry) {
  return IsExactEntry(entry) && !g_bDriverHonoursExact && HasZeroOctet(entry.dwIp);
}

void SetHeldBackLog(std::function<void(const std::string& line)> log) {
  g_heldBackLog = std::move(log);
  g_heldBackOrder.clear();
  g_heldBackTold.clear();
}

uint64_t HeldBackPatternCount() { return g_nHeldBackPatterns; }

bool HeldBackAtStart(const _CIPFilter& entry) {
  if (entry.dwIp == 0 && entry.dwPort == 0) return true;
  return IsExactEntry(entry) && !g_bDriverHonoursExact && (HasZeroOctet(entry.dwIp) || IsBlockProtected(entry));
}

const char* HeldBackReason(const _CIPFilter& entry) {
  if (HeldBackAsPattern(entry) && !(entry.dwIp == 0 && entry.dwPort == 0)) return kHeldBackPatternText;
  return "会封锁例外、本机或服务地址";
}

void LoadTablesIntoDriver(const std::function<void(int milliseconds)>& pump,
                          const std::function<void(const _CIPFilter& entry)>& told) {
  LoadListsIntoDriver(g_pIpOuterList, g_pIpFilterList, pump, [&](const _CIPFilter& entry) {
    if (!HeldBackAtStart(entry)) return false;
    if (told) told(entry);
    return true;
  });
}

BlockIpOutcome BlockIp(const std::string& ipText, const std::string& portText, const std::string& label,
                       int type) {
  std::unique_ptr<_CIPFilter> entry = CreateIpFilter(ipText, portText, label, type, *g_pClock);
  if (FindIpFilter(entry->dwIp, entry->dwPort)) return BlockIpOutcome::kDuplicate;
  if (ProtectionOf(*entry) == EBlockProtection::kEveryHost) return BlockIpOutcome::kProtected;
  // A protected address is refused as such; any other one that the driver would read as a
  // pattern is not sent at all.
  if (HeldBackAsPattern(*entry) && CoveredProtection(entry->dwIp, true) == EBlockProtection::kNone) {
    TellHeldBackPattern(*entry);
    return BlockIpOutcome::kHeldBackPattern;
  }
  if (IsBlockProtected(*entry)) return BlockIpOutcome::kProtected;
  const std::string line = "+" + EncodeIpFilterItem(*entry);
  const bool added = CIpTableWriter::Apply(
      g_pIpFilterList, [&] { return AddBlock(entry.get()) != 0; },
      [&](CIpFilterList& list) { list.push_back(std::move(entry)); }, [&] { FiltersChanged(line); });
  return added ? BlockIpOutcome::kAdded : BlockIpOutcome::kDriverRefused;
}

bool ReleaseIpFilter(uint32_t ip, uint32_t port) {
  const CIpFilterList& list = g_pIpFilterList;
  for (size_t i = list.size(); i-- > 0;) {
    if (list[i]->dwIp != ip || list[i]->dwPort != port) continue;
    const bool released = CIpTableWriter::Apply(
        g_pIpFilterList, [&] { return RemoveBlock(list[i].get()) != 0; },
        [&](CIpFilterList& l) { l.erase(l.begin() + static_cast<std::ptrdiff_t>(i)); },
        [&] { FiltersChanged("-" + AddressAndPort(ip, port)); });
    if (released) ResendTwin(ip, port);
    return released;
  }
  return false;
}

bool ReleaseAllIpFilters() {
  return CIpTableWriter::Apply(
      g_pIpFilterList, [] { return RemoveAllBlocks() != 0; }, [](CIpFilterList& l) { l.clear(); },
      [] { FiltersChanged("*"); });
}

namespace {

// Brackets the expiry's releases so a device that applies many commands at once does.
class CExpiryBatch {
 public:
  explicit CExpiryBatch(bool use) : m_handle(use && DevicePort() ? g_hDevice.load() : kInvalidDevice) {
    if (m_handle != kInvalidDevice) DevicePort()->BeginBatch(m_handle);
  }
  ~CExpiryBatch() {
    if (m_handle != kInvalidDevice) DevicePort()->EndBatch(m_handle);
  }
  CExpiryBatch(const CExpiryBatch&) = delete;
  CExpiryBatch& operator=(const CExpiryBatch&) = delete;

 private:
  DeviceHandle m_handle;
};

bool Listed(uint64_t serial) {
  return std::any_of(g_pIpFilterList.begin(), g_pIpFilterList.end(),
                     [&](const auto& f) { return f->nSerial == serial; });
}

uint64_t KeyOf(uint32_t ip, uint32_t port) { return static_cast<uint64_t>(ip) << 32 | port; }

// The released entries leave the table in one pass; then the first twin of each (same address
// and port, possible after loading), listed but no longer enforced, goes to the driver again.
void EraseReleased(const std::unordered_set<uint64_t>& serials) {
  std::unordered_set<uint64_t> keys;
  CIpTableWriter::Apply(
      g_pIpFilterList, [] { return true; },
      [&](CIpFilterList& l) {
        l.erase(std::remove_if(l.begin(), l.end(),
                               [&](const std::unique_ptr<_CIPFilter>& f) {
                                 if (serials.count(f->nSerial) == 0) return false;
                                 keys.insert(KeyOf(f->dwIp, f->dwPort));
                                 return true;
                               }),
                l.end());
      },
      [] {});
  for (const auto& f : g_pIpFilterList) {
    if (keys.empty()) break;
    if (keys.erase(KeyOf(f->dwIp, f->dwPort)) != 0) AddBlock(f.get());
  }
}

}  // namespace

void ExpireIpFilters() {
  // The paced pause may run window messages, and with them this step's own timer.
  static bool s_bExpiring = false;
  if (s_bExpiring || g_pClock == nullptr) return;
  s_bExpiring = true;
  const int64_t now = g_pClock->Now();
  const bool paced = DevicePort() == nullptr || DevicePort()->NeedsPacing();
  const size_t most = paced ? kPacedExpiriesPerStep : kExpiriesPerStep;
  // Copies: the table may change during a pause. The entry that was sent is the one that
  // goes: with a duplicate address and port earlier in the table (possible after loading),
  // that earlier entry keeps its own duration.
  std::vector<_CIPFilter> due;
  for (const auto& f : g_pIpFilterList) {
    if (due.size() == most) break;
    if (f->tExpire != 0 && ExpiryPassed(f->tExpire, now)) due.push_back(*f);
  }
  std::unordered_set<uint64_t> released;
  {
    CExpiryBatch batch(!paced && !due.empty());
    for (const _CIPFilter& entry : due) {
      // Released by hand during an earlier pause: its address may have been blocked anew.
      if (paced && !Listed(entry.nSerial)) continue;
      if (RemoveBlock(&entry) == 0) continue;  // stays for the next step
      FiltersChanged("-" + AddressAndPort(entry.dwIp, entry.dwPort));
      if (!paced) {
        released.insert(entry.nSerial);
        continue;
      }
      EraseReleased({entry.nSerial});
      if (g_pause) g_pause(kExpiryPauseMs);
    }
  }
  if (!released.empty()) EraseReleased(released);
  s_bExpiring = false;
}

AddIpOuterOutcome AddIpOuter(const std::string& ipText) {
  if (ipText == "0.0.0.0") return AddIpOuterOutcome::kAllZero;
  std::unique_ptr<_CIPOuter> entry = CreateIpOuter(ipText, "0");
  if (IsIpFiltered(entry->dwIp)) return AddIpOuterOutcome::kBlocked;
  if (IsIpProtected(entry->dwIp)) return AddIpOuterOutcome::kExists;
  const bool added = CIpTableWriter::Apply(
      g_pIpOuterList, [&] { return AddException(entry.get()) != 0; },
      [&](CIpOuterList& list) { list.push_back(std::move(entry)); }, SaveIpOuterList);
  return added ? AddIpOuterOutcome::kAdded : AddIpOuterOutcome::kDriverRefused;
}

RemoveIpOuterOutcome RemoveIpOuter(uint32_t ip) {
  const CIpOuterList& list = g_pIpOuterList;
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& e) { return e->dwIp == ip; });
  if (it == list.end()) return RemoveIpOuterOutcome::kDriverRefused;
  const size_t index = static_cast<size_t>(it - list.begin());
  const bool removed = CIpTableWriter::Apply(
      g_pIpOuterList, [&] { return RemoveException(it->get()) != 0; },
      [&](CIpOuterList& l) { l.erase(l.begin() + static_cast<std::ptrdiff_t>(index)); }, SaveIpOuterList);
  return removed ? RemoveIpOuterOutcome::kRemoved : RemoveIpOuterOutcome::kDriverRefused;
}

void SaveIpFilterList() {
  if (!g_pStore) return;
  // Put straight away: reading a value of 20,000 items back first to compare costs more than
  // the write, and the list is saved only when it changed.
  if (!g_pStore->Put(kConfigFile, ini::kIpFilter, "ipfilterlst", EncodeIpFilterList(g_pIpFilterList))) {
    g_bFiltersUnsaved = true;  // the journal keeps the changes; the next second tries again
    return;
  }
  g_bFiltersUnsaved = false;
  if (g_pJournal) g_pJournal->Clear();
}

bool FlushIpFilterList() {
  if (g_bFiltersUnsaved) SaveIpFilterList();
  return !g_bFiltersUnsaved;
}

bool IpFilterListUnsaved() { return g_bFiltersUnsaved; }

void SaveIpOuterList() {
  if (g_pStore) WriteIni(*g_pStore, kConfigFile, ini::kIpOuter, "ipouterlst", EncodeIpOuterList(g_pIpOuterList));
}
