#pragma once
// The blocked-IP table and the exception table: what the driver enforces, mirrored in memory
// and in the configuration file. Every change goes to the driver first; only when the driver
// accepted does the table change, and then the table is saved. A refusal changes nothing.
// The exception table is saved at once. The blocked table, which a guard may change many times
// a second, is saved at most once a second (FlushIpFilterList); until then every change is in a
// journal beside the file, which the next load plays back, so a crash loses no block.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "common/ip_entries.h"
#include "common/process_state.h"  // g_saLocalIp, g_dwServiceIp
#include "ipblock/ip_outcomes.h"

class IClock;
class IProfileStore;
class CIpTableWriter;

// A table owns its entries. Callers read it; only the operations below change it.
template <class Entry>
class CEntryTable {
 public:
  using List = std::vector<std::unique_ptr<Entry>>;

  CEntryTable() = default;
  CEntryTable(const CEntryTable&) = delete;
  CEntryTable& operator=(const CEntryTable&) = delete;

  const List& Entries() const { return m_list; }
  operator const List&() const { return m_list; }  // for the start sequence and the encodings
  std::size_t size() const { return m_list.size(); }
  bool empty() const { return m_list.empty(); }
  const Entry& operator[](std::size_t i) const { return *m_list[i]; }
  typename List::const_iterator begin() const { return m_list.begin(); }
  typename List::const_iterator end() const { return m_list.end(); }

  // Start-up only: the entries read from the configuration file take the table's place.
  // Nothing goes to the driver here; the start sequence sends the tables later.
  void LoadAtStart(List&& entries) { m_list = std::move(entries); }

 private:
  friend class CIpTableWriter;
  List m_list;
};

using CIpFilterTable = CEntryTable<_CIPFilter>;
using CIpOuterTable = CEntryTable<_CIPOuter>;

extern CIpFilterTable g_pIpFilterList;  // blocked entries, insertion order
extern CIpOuterTable g_pIpOuterList;    // exceptions, insertion order

// Where saves go, what time it is, and how the expiry step pauses. Set once before any
// operation (the program: UseSystemPortsForIpTables; tests: fakes).
using PauseMilliseconds = std::function<void(int milliseconds)>;
void SetIpTablePorts(IProfileStore* store, IClock* clock, PauseMilliseconds pause);

// Lines appended beside the configuration file between two saves of the blocked list. Each line
// is written before the call returns, so it outlives a crash of the program.
class IListJournal {
 public:
  virtual ~IListJournal() = default;
  virtual void Append(const std::string& line) = 0;  // one line, without its line break
  virtual std::string ReadAll() = 0;                  // every line, each ended by "\n"; "" when none
  virtual void Clear() = 0;
};
// The blocked list's journal (null: none). Lines: "+" and the item as the list encodes it, "-"
// and address|port for a release, "*" for a release of everything.
void SetIpFilterJournal(IListJournal* journal);
// Plays the journal back over a list as loaded: "+" adds the item unless its address and port
// are listed, "-" removes the last entry with them, "*" empties the list. Each line says what
// the list held after it, so playing a line twice changes nothing more. A last line without its
// line break is left out: it may have been cut.
void ReplayIpFilterJournal(const std::string& journal, IClock& clock, CIpFilterList& filters);

// The one-time load at start-up straight into the tables; a journal left by a crash is played
// back over the blocked list, which is then saved, and the journal emptied.
void LoadConfiguration(IProfileStore& store, IClock& clock, CSettings& settings, CIpFilterTable& filters,
                       CIpOuterTable& exceptions);

bool FindIpFilter(uint32_t ip, uint32_t port);  // exact address and port
bool IsIpFiltered(uint32_t ip);                 // exact address, any port
// An exception covers it, it is the vendor service host, or it is one of the server's own.
bool IsIpProtected(uint32_t ip);
// The same protections measured against every address the entry would really block: an
// exception sharing an address with it, or the service host or an own address inside it.
// An entry marked exact is measured as its address alone only while the driver has said it
// honours the mark (g_bDriverHonoursExact); otherwise as that address and as the pattern its
// 0 octets make. A port-only block (0.0.0.0 with a port) is checked as its own value, like
// IsIpProtected; 0.0.0.0 with port 0 (every host, every port) is always protected.
bool IsBlockProtected(const _CIPFilter& entry);
// Which protection IsBlockProtected found: every host, an exception, an own address or the
// service host (checked in this order), kNone when none.
EBlockProtection ProtectionOf(const _CIPFilter& entry);
// An automatic entry (marked exact) with a 0 octet while the driver has not said it honours the
// mark. Such a driver (the vendor's) reads the octet as a wildcard, a forged 203.0.0.0 as
// 203.*.*.*, so the entry is never sent to it: BlockIp refuses it (kHeldBackPattern), tells the
// held-back log and counts it; one loaded from the file stays listed but out of the driver.
bool HeldBackAsPattern(const _CIPFilter& entry);
// Where BlockIp tells of the automatic entries it held back as patterns (the program: the
// configuration log); an address and port is told again only after 1024 others were.
void SetHeldBackLog(std::function<void(const std::string& line)> log);
// Automatic blocks BlockIp held back as patterns since the process started.
uint64_t HeldBackPatternCount();

// A listed block that must not be sent to the driver at start: every host on every port, or an
// automatic (exact) entry that a driver not known to honour the mark would read as a pattern
// (HeldBackAsPattern) or that reaches an exception, an own address or the service host. BlockIp
// refuses such entries; one loaded from the file (an older version's save, a driver changed
// since, an edit by hand) is kept in the list.
bool HeldBackAtStart(const _CIPFilter& entry);
// Why HeldBackAtStart holds it back, for the configuration log ("未载入驱动:...").
const char* HeldBackReason(const _CIPFilter& entry);
// Both tables into the driver at start (exceptions first, pacing each step); each held-back
// block is handed to told instead of the driver.
void LoadTablesIntoDriver(const std::function<void(int milliseconds)>& pump,
                          const std::function<void(const _CIPFilter& entry)>& told);

// The single add path for blocks by hand (type 1) and automatic ones (type 0).
BlockIpOutcome BlockIp(const std::string& ipText, const std::string& portText, const std::string& label,
                       int type);
// The last entry with this address and port; false when none or the driver refused. A twin left
// in the table (same address and port) is sent to the driver again.
bool ReleaseIpFilter(uint32_t ip, uint32_t port);
bool ReleaseAllIpFilters();
// One expiry step (every 20 s): releases every entry whose time has passed (compared in the
// record's 32-bit time), in table order, at most kExpiriesPerStep of them; the rest go in the
// next step. A refused release stays for the next step. A twin left behind (same address and
// port) is sent again. A device that needs pacing (the vendor's driver) gets at most
// kPacedExpiriesPerStep releases, each followed by the 200 ms pause; any other gets them back to
// back in one batch. The step marks the list for the next save when it released anything.
constexpr size_t kExpiriesPerStep = 2000;
constexpr size_t kPacedExpiriesPerStep = 50;
void ExpireIpFilters();

AddIpOuterOutcome AddIpOuter(const std::string& ipText);
RemoveIpOuterOutcome RemoveIpOuter(uint32_t ip);

// Writes the blocked list now, and empties the journal once the write succeeded.
void SaveIpFilterList();
void SaveIpOuterList();
// Saves the blocked list when it changed since its last save; the program calls it once a
// second and when protection stops or the program ends. True when nothing is left unsaved.
bool FlushIpFilterList();
bool IpFilterListUnsaved();
