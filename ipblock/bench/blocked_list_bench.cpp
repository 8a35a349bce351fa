// A guard's blocked list of 20,000 entries through the tables, as the program did it before
// beside the way it does it now, on the same input in the same run:
//   block:  20,000 automatic blocks. Before, every block rewrote the configuration file and its
//           good copy; now the blocks go to the journal and the file is written once a second
//           (here: once per 1,000 blocks, the most one guard drain of a second blocks).
//   expire: all 20,000 due at once. Before, one release per 20 s step (and a save per step);
//           now every due entry up to the step's bound, one save per step.
//   reload: the list from the file into the driver at a start. Before, 200 ms after each entry on
//           any device; now no pause on a device that needs none (the user-mode filter).
// The device is a fake that keeps the blocked table in a hash set (its own cost stays out of the
// figures). The store rewrites a whole file and its good copy (temporary file and rename) in a
// scratch folder at every write, as the profile functions and the good copy do; the journal
// appends one line per change to a file there. Pauses are counted, not slept.
// Times are the processor time of the thread doing the work; "until done" adds the pauses and
// the 20 s between expiry steps.
//   blocked_list_bench [entries]
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include <time.h>
#include <unistd.h>

#include "common/clock.h"
#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/ip_lists.h"
#include "config/profile_store.h"
#include "driver/driver_link.h"
#include "driver/driver_records.h"
#include "ipblock/ip_tables.h"

namespace {

constexpr DeviceHandle kHandle = 0x51;

class CHashDevice : public IDevice {
 public:
  bool paced = false;
  long long commands = 0;
  DeviceHandle Open(const char*) override { return kHandle; }
  bool Cancel(DeviceHandle) override { return true; }
  bool Close(DeviceHandle) override { return true; }
  bool NeedsPacing() const override { return paced; }
  bool Control(DeviceHandle, uint32_t code, const void* in, uint32_t inSize, void*, uint32_t, uint32_t*) override {
    ++commands;
    if (inSize == 4) {
      if (code == kIoctlRemove) m_blocked.clear();
      return true;
    }
    if (inSize != kIpFilterSize) return true;
    const auto* p = static_cast<const uint8_t*>(in);
    const uint64_t key = static_cast<uint64_t>(GetLe32(p)) << 32 | GetLe32(p + 4);
    if (code == kIoctlSet) m_blocked.insert(key);
    else m_blocked.erase(key);
    return true;
  }
  size_t Blocked() const { return m_blocked.size(); }

 private:
  std::unordered_set<uint64_t> m_blocked;
};

// The configuration file as the profile functions keep it: every write rewrites the whole
// file, then the good copy is taken again (temporary file, rename).
class CFileStore : public IProfileStore {
 public:
  explicit CFileStore(std::string folder) : m_strFolder(std::move(folder)) {}
  long long writes = 0, bytes = 0;
  std::string Get(const std::string&, const std::string& section, const std::string& key) override {
    auto it = m_values.find(section + "\n" + key);
    return it == m_values.end() ? std::string() : it->second;
  }
  bool Has(const std::string&, const std::string& section, const std::string& key) override {
    return m_values.count(section + "\n" + key) != 0;
  }
  bool Put(const std::string&, const std::string& section, const std::string& key,
           const std::string& value) override {
    m_values[section + "\n" + key] = value;
    std::string file;
    for (const auto& kv : m_values) {
      const size_t nl = kv.first.find('\n');
      file += "[" + kv.first.substr(0, nl) + "]\r\n" + kv.first.substr(nl + 1) + "=" + kv.second + "\r\n";
    }
    const std::string path = m_strFolder + "/tavrick.cfg";
    WriteFile(path, file);
    WriteFile(path + ".bak.tmp", file);
    std::rename((path + ".bak.tmp").c_str(), (path + ".bak").c_str());
    ++writes;
    bytes += static_cast<long long>(file.size()) * 2;
    return true;
  }

 private:
  static void WriteFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  std::string m_strFolder;
  std::map<std::string, std::string> m_values;
};

class CFileJournal : public IListJournal {
 public:
  explicit CFileJournal(std::string path) : m_strPath(std::move(path)) {}
  long long lines = 0;
  void Append(const std::string& line) override {
    FILE* f = std::fopen(m_strPath.c_str(), "ab");
    if (!f) return;
    const std::string text = line + "\r\n";
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    ++lines;
  }
  std::string ReadAll() override {
    std::string text;
    FILE* f = std::fopen(m_strPath.c_str(), "rb");
    if (!f) return text;
    char chunk[16384];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
    std::fclose(f);
    return text;
  }
  void Clear() override { std::remove(m_strPath.c_str()); }

 private:
  std::string m_strPath;
};

// Processor time of this thread (the window's thread in the program): on a shared machine the
// wall clock mostly measures the neighbours.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::string Address(int i) {
  return "61." + std::to_string(i / 62500 + 1) + "." + std::to_string(i / 250 % 250 + 1) + "." +
         std::to_string(i % 250 + 1);
}

struct CFigures {
  double cpu = 0;          // seconds of work on the window's thread
  long long pausedMs = 0;  // pauses the device's pace adds
  long long steps = 0;     // 20 s expiry steps needed
  long long writes = 0;    // whole-file writes (each with its good copy)
  long long megabytes = 0;
};

struct CRun {
  CHashDevice device;
  CFileStore store;
  CFileJournal journal;
  CManualClock clock{1700000000};
  long long pausedMs = 0;

  CRun(const std::string& folder, bool journalled) : store(folder), journal(folder + "/tavrick.cfg.jnl") {
    journal.Clear();
    SetDevicePort(&device);
    g_hDevice = kHandle;
    MarkRunning();
    SetIpTablePorts(&store, &clock, [this](int ms) { pausedMs += ms; });
    SetIpFilterJournal(journalled ? &journal : nullptr);
    g_pIpFilterList.LoadAtStart({});
    g_pIpOuterList.LoadAtStart({});
    g_saLocalIp.clear();
    g_dwServiceIp = 100000;
  }
  ~CRun() {
    SetIpFilterJournal(nullptr);
    g_pIpFilterList.LoadAtStart({});
    g_hDevice = kInvalidDevice;
    MarkStopped();
    SetDevicePort(nullptr);
    SetIpTablePorts(nullptr, nullptr, nullptr);
  }
  CFigures Since(double t0, long long writes0, long long bytes0) const {
    CFigures f;
    f.cpu = ThreadSeconds() - t0;
    f.pausedMs = pausedMs;
    f.writes = store.writes - writes0;
    f.megabytes = (store.bytes - bytes0) >> 20;
    return f;
  }
};

// The save the program made before after every change: the value read back, compared, written.
IProfileStore* g_pOldStore = nullptr;
void OldSave() {
  WriteIni(*g_pOldStore, kConfigFile, ini::kIpFilter, "ipfilterlst", EncodeIpFilterList(g_pIpFilterList));
}

// The release the program made before at each 20 s step: the first entry whose time has passed,
// then the pause, then the save of the whole list.
bool OldExpiryStep(CRun& run) {
  const int64_t now = run.clock.Now();
  for (const auto& f : g_pIpFilterList) {
    if (f->tExpire == 0 || !ExpiryPassed(f->tExpire, now)) continue;
    const bool released = ReleaseIpFilter(f->dwIp, f->dwPort);
    run.pausedMs += 200;
    OldSave();
    return released;
  }
  OldSave();
  return false;
}

CFigures Block(CRun& run, int entries, bool before) {
  const long long w0 = run.store.writes, b0 = run.store.bytes;
  const double t0 = ThreadSeconds();
  for (int i = 0; i < entries; ++i) {
    if (BlockIp(Address(i), "0", "1小时", 0) != BlockIpOutcome::kAdded) std::abort();
    if (before) OldSave();
    else if ((i + 1) % 1000 == 0) FlushIpFilterList();
  }
  if (!before) FlushIpFilterList();
  return run.Since(t0, w0, b0);
}

CFigures Expire(CRun& run, bool before) {
  run.clock.Advance(3601);
  run.pausedMs = 0;
  const long long w0 = run.store.writes, b0 = run.store.bytes;
  const double t0 = ThreadSeconds();
  long long steps = 0;
  while (!g_pIpFilterList.empty()) {
    ++steps;
    if (before) {
      OldExpiryStep(run);
    } else {
      ExpireIpFilters();
      FlushIpFilterList();
    }
  }
  CFigures f = run.Since(t0, w0, b0);
  f.steps = steps;
  return f;
}

CFigures Reload(CRun& run, int entries, bool before) {
  CIpFilterList list;
  std::string text;
  for (int i = 0; i < entries; ++i) text += (i ? "," : "") + Address(i) + "|0|1小时|0";
  run.store.Put(kConfigFile, ini::kIpFilter, "ipfilterlst", text);
  g_pIpFilterList.LoadAtStart({});
  run.device.paced = before;  // before, every device was paced
  run.pausedMs = 0;
  const long long w0 = run.store.writes, b0 = run.store.bytes;
  const double t0 = ThreadSeconds();
  CSettings settings;
  LoadConfiguration(run.store, run.clock, settings, g_pIpFilterList, g_pIpOuterList);
  LoadTablesIntoDriver([&](int ms) { run.pausedMs += ms; }, nullptr);
  CFigures f = run.Since(t0, w0, b0);
  if (run.device.Blocked() != static_cast<size_t>(entries)) std::abort();
  return f;
}

void Row(const char* what, const CFigures& before, const CFigures& after) {
  const double wallBefore = before.cpu + before.pausedMs / 1000.0 + before.steps * 20.0;
  const double wallAfter = after.cpu + after.pausedMs / 1000.0 + after.steps * 20.0;
  std::printf("%-8s before: %8.3f s CPU, %8.1f s paused, %6lld steps, %6lld writes (%5lld MB)  => %10.1f s\n", what,
              before.cpu, before.pausedMs / 1000.0, before.steps, before.writes, before.megabytes, wallBefore);
  std::printf("%-8s after:  %8.3f s CPU, %8.1f s paused, %6lld steps, %6lld writes (%5lld MB)  => %10.1f s\n", what,
              after.cpu, after.pausedMs / 1000.0, after.steps, after.writes, after.megabytes, wallAfter);
  std::printf("%-8s ratio (CPU): %.1fx   ratio (until done, steps at 20 s): %.1fx\n\n", what,
              after.cpu > 0 ? before.cpu / after.cpu : 0.0, wallAfter > 0 ? wallBefore / wallAfter : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  const int entries = argc > 1 ? std::atoi(argv[1]) : 20000;
  // In memory when the system has a memory file system: the figures are the program's work,
  // not this disk's (a disk adds its write and flush time to every write counted below).
  char folder[] = "/dev/shm/blocked-list-bench-XXXXXX";
  char fallback[] = "/tmp/blocked-list-bench-XXXXXX";
  char* made = mkdtemp(folder);
  if (!made) made = mkdtemp(fallback);
  if (!made) return 1;
  std::printf("%d entries in %s; a step of the expiry comes every 20 s (counted in \"until done\")\n\n", entries, made);

  CFigures blockBefore, blockAfter, expireBefore, expireAfter, reloadBefore, reloadAfter;
  {
    CRun run(made, false);
    g_pOldStore = &run.store;
    blockBefore = Block(run, entries, true);
    expireBefore = Expire(run, true);
    reloadBefore = Reload(run, entries, true);
  }
  {
    CRun run(made, true);
    blockAfter = Block(run, entries, false);
    std::printf("journal: %lld lines appended while blocking\n", run.journal.lines);
    expireAfter = Expire(run, false);
    reloadAfter = Reload(run, entries, false);
  }
  {
    // The vendor's driver keeps its pace: the expiry's bound per step then decides.
    CRun run(made, true);
    Block(run, entries, false);
    run.device.paced = true;
    const CFigures paced = Expire(run, false);
    std::printf("expire on a paced driver: %.3f s CPU, %.1f s paused (window answering), %lld steps => %.1f s\n\n",
                paced.cpu, paced.pausedMs / 1000.0, paced.steps, paced.cpu + paced.pausedMs / 1000.0 + paced.steps * 20.0);
  }
  Row("block", blockBefore, blockAfter);
  Row("expire", expireBefore, expireAfter);
  Row("reload", reloadBefore, reloadAfter);
  for (const char* name : {"/tavrick.cfg", "/tavrick.cfg.bak", "/tavrick.cfg.jnl"})
    std::remove((std::string(made) + name).c_str());
  rmdir(made);
  return 0;
}
