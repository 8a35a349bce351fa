#include "wfpfilter/user_mode_device.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "common/crt_text.h"
#include "wfpfilter/filter_plan.h"

namespace {

const char kLogHead[] = "用户态过滤:";
// A filter already gone (an administrator deleted it) is what a delete wants; refusing it would
// leave its entry impossible to remove or replace for the rest of the session.
constexpr WfpStatus kFilterNotFound = 0x80320003;  // FWP_E_FILTER_NOT_FOUND

uint64_t KeyOf(uint32_t ip, uint32_t port) { return static_cast<uint64_t>(ip) << 32 | port; }

std::string Hex(WfpStatus status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
  return text;
}

std::string PortText(uint32_t wirePort) { return std::to_string(Ntohs(static_cast<uint16_t>(wirePort & 0xFFFF))); }

bool SameText(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

}  // namespace

CUserModeDevice::CUserModeDevice(IWfpEngine& engine, IPacketCapture* capture, LogLine log)
    : m_engine(engine), m_pCapture(capture), m_log(std::move(log)) {}

CUserModeDevice::~CUserModeDevice() {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_open) CloseLocked();
}

DeviceHandle CUserModeDevice::Open(const char*) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_open) return kInvalidDevice;
  const WfpStatus status = m_engine.Open();
  if (status != kWfpOk) {
    Log(std::string("打开过滤引擎失败,错误 ") + Hex(status));
    return kInvalidDevice;
  }
  m_open = true;
  m_tables = Tables();
  return kUserModeDeviceHandle;
}

bool CUserModeDevice::Cancel(DeviceHandle h) { return h == kUserModeDeviceHandle; }

bool CUserModeDevice::Close(DeviceHandle h) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (!m_open || h != kUserModeDeviceHandle) return false;
  CloseLocked();
  return true;
}

void CUserModeDevice::CloseLocked() {
  if (m_capturing && m_pCapture != nullptr) m_pCapture->Stop();
  m_capturing = false;
  if (m_txnOpen) m_engine.AbortTransaction();
  m_txnOpen = false;
  // The session is dynamic: closing it removes every filter it added.
  m_engine.Close();
  m_open = false;
  m_tables = Tables();
  m_batching = m_batchDegraded = m_batchSaved = false;
  m_beforeBatch = Tables();
  m_batchCommands.clear();
  // Packets of this session are not handed to the next one.
  m_ring.Clear();
}

bool CUserModeDevice::Control(DeviceHandle h, uint32_t code, const void* in, uint32_t inSize, void* out,
                              uint32_t outSize, uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  std::lock_guard<std::mutex> hold(m_lock);
  if (!m_open || h != kUserModeDeviceHandle) return false;
  const auto* input = static_cast<const uint8_t*>(in);
  if (input == nullptr && inSize != 0) return false;
  if (code == kIoctlQuery) return Query(input, inSize, static_cast<uint8_t*>(out), outSize, returned);
  Command command;
  if (!Decode(code, input, inSize, &command)) return false;
  if (command.kind == Kind::kAddBlock) {
    std::vector<CWfpFilterSpec> plan;
    if (!PlanBlock(command.block, &plan)) {
      Log(Describe(command) + " 被拒绝:此通配地址无法准确过滤(非零位之前的0超过一个),请改用末尾为0的地址段");
      return false;
    }
  }
  const bool ok = Run(command);
  SyncCapture();
  return ok;
}

// Which command a request is, told apart by its length as the driver does.
bool CUserModeDevice::Decode(uint32_t code, const uint8_t* in, uint32_t inSize, Command* command) {
  if (code == kIoctlSet || code == kIoctlRemove) {
    const bool set = code == kIoctlSet;
    if (inSize == 4) {
      const uint32_t v = GetLe32(in);
      if (set && v == kFilterStart) command->kind = Kind::kStart;
      else if (set && v == kFilterStop) command->kind = Kind::kStop;
      else if (!set && v == kRemoveAllBlocks) command->kind = Kind::kRemoveAll;
      else return false;
      return true;
    }
    if (inSize == kIpOuterSize) {
      command->kind = set ? Kind::kAddException : Kind::kRemoveException;
      command->outer = DecodeIpOuter(in);
      return true;
    }
    if (inSize == kIpFilterSize) {
      command->kind = set ? Kind::kAddBlock : Kind::kRemoveBlock;
      command->block = DecodeIpFilter(in);
      return true;
    }
    return false;
  }
  if (code == kIoctlPingRule && inSize == kPingRuleSize) {
    command->kind = Kind::kPingRule;
    command->ping = DecodePingRule(in);
    // The driver knows "ICMP" and "0" only.
    return SameText(command->ping.szProtocol, "ICMP") || SameText(command->ping.szProtocol, "0");
  }
  return false;
}

bool CUserModeDevice::Query(const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                            uint32_t* returned) {
  if (out == nullptr && outSize != 0) return false;
  if (inSize == 0) {
    if (outSize < kDriverStatusSize) return false;
    _CDriverStatus status;
    status.nVersion = 1;
    status.nReady = 1;
    const CDriverStatusWire w = EncodeDriverStatus(status);
    std::memcpy(out, w.data(), w.size());
    uint32_t written = kDriverStatusSize;
    // Every filter is written from the entry's own meaning: one marked exact is exact.
    if (outSize >= kDriverStatusReplySize) {
      PutLe32(out + kDriverStatusSize, kExactMatchMark);
      written = kDriverStatusReplySize;
    }
    if (returned != nullptr) *returned = written;
    return true;
  }
  if (inSize == 4 && GetLe32(in) == kFetchPackets) {
    if (!m_ring.FillSnapshot(out, outSize)) return false;
    if (returned != nullptr) *returned = static_cast<uint32_t>(kPacketSnapshotSize);
    return true;
  }
  return false;
}

bool CUserModeDevice::Run(const Command& command) {
  if (!m_batching || m_batchDegraded) return RunAlone(command);
  if (!m_batchSaved) {
    m_beforeBatch = m_tables;
    m_batchSaved = true;
  }
  Change change;
  if (Prepare(command, &change)) {
    if (change) change(m_tables);
    m_batchCommands.push_back(command);
    return true;
  }
  // The shared transaction is lost: everything of the batch goes again one by one, so that
  // each command's answer and the tables say what the engine holds.
  ReplayBatchAlone();
  return RunAlone(command);
}

bool CUserModeDevice::RunAlone(const Command& command) {
  Change change;
  bool ok = Prepare(command, &change);
  if (ok && m_txnOpen) {
    const WfpStatus status = m_engine.CommitTransaction();
    if (status == kWfpOk) ++m_committed;
    else ok = Failed(status, "提交事务");
  }
  if (m_txnOpen && !ok) m_engine.AbortTransaction();
  m_txnOpen = false;
  if (!ok) {
    Log(Describe(command) + " 被拒绝:" + m_failStep + "时过滤引擎返回错误 " + Hex(m_failStatus));
    return false;
  }
  if (change) change(m_tables);
  return true;
}

void CUserModeDevice::ReplayBatchAlone() {
  if (m_txnOpen) m_engine.AbortTransaction();
  m_txnOpen = false;
  if (m_batchSaved) m_tables = std::move(m_beforeBatch);
  m_beforeBatch = Tables();
  m_batchSaved = false;
  m_batchDegraded = true;
  std::vector<Command> commands;
  commands.swap(m_batchCommands);
  for (const Command& c : commands) RunAlone(c);
}

void CUserModeDevice::BeginBatch(DeviceHandle h) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (!m_open || h != kUserModeDeviceHandle || m_batching) return;
  m_batching = true;
  m_batchDegraded = m_batchSaved = false;
  m_batchCommands.clear();
}

void CUserModeDevice::EndBatch(DeviceHandle h) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (!m_open || h != kUserModeDeviceHandle || !m_batching) return;
  if (m_txnOpen) {
    const WfpStatus status = m_engine.CommitTransaction();
    if (status == kWfpOk) {
      ++m_committed;
      m_txnOpen = false;
    } else {
      Log(std::string("成批提交时过滤引擎返回错误 ") + Hex(status) + ",逐条重做");
      ReplayBatchAlone();
    }
  }
  m_batching = m_batchDegraded = m_batchSaved = false;
  m_beforeBatch = Tables();
  m_batchCommands.clear();
  SyncCapture();
}

bool CUserModeDevice::Prepare(const Command& command, Change* change) {
  Tables& t = m_tables;
  const bool engine = t.filtering;
  switch (command.kind) {
    case Kind::kAddException: {
      const _CIPOuter entry = command.outer;
      const Key key = KeyOf(entry.dwIp, entry.dwPort);
      std::vector<uint64_t> ids;
      if (engine) {
        const auto it = t.exceptions.find(key);
        if (it != t.exceptions.end() && !DeleteFilters(it->second.ids)) return false;
        if (!AddFilters(PlanException(entry), &ids)) return false;
      }
      *change = [key, entry, ids](Tables& to) { to.exceptions[key] = ExceptionRow{entry, ids}; };
      return true;
    }
    case Kind::kRemoveException: {
      const Key key = KeyOf(command.outer.dwIp, command.outer.dwPort);
      const auto it = t.exceptions.find(key);
      if (it == t.exceptions.end()) return true;  // not there: already removed
      if (engine && !DeleteFilters(it->second.ids)) return false;
      *change = [key](Tables& to) { to.exceptions.erase(key); };
      return true;
    }
    case Kind::kAddBlock: {
      const _CIPFilter entry = command.block;
      const Key key = KeyOf(entry.dwIp, entry.dwPort);
      std::vector<uint64_t> ids;
      if (engine) {
        std::vector<CWfpFilterSpec> plan;
        PlanBlock(entry, &plan);  // refused before it came here when it cannot be planned
        const auto it = t.blocks.find(key);
        if (it != t.blocks.end() && !DeleteFilters(it->second.ids)) return false;
        if (!AddFilters(plan, &ids)) return false;
      }
      *change = [key, entry, ids](Tables& to) { to.blocks[key] = BlockRow{entry, ids}; };
      return true;
    }
    case Kind::kRemoveBlock: {
      const Key key = KeyOf(command.block.dwIp, command.block.dwPort);
      const auto it = t.blocks.find(key);
      if (it == t.blocks.end()) return true;
      if (engine && !DeleteFilters(it->second.ids)) return false;
      *change = [key](Tables& to) { to.blocks.erase(key); };
      return true;
    }
    case Kind::kRemoveAll:
      if (engine) {
        for (const auto& row : t.blocks) {
          if (!DeleteFilters(row.second.ids)) return false;
        }
      }
      *change = [](Tables& to) { to.blocks.clear(); };
      return true;
    case Kind::kPingRule: {
      const _CPingRule rule = command.ping;
      std::vector<uint64_t> ids;
      if (engine && (!DeleteFilters(t.pingIds) || !AddFilters(PlanPingRule(rule), &ids))) return false;
      *change = [rule, ids](Tables& to) {
        to.ping = rule;
        to.pingIds = ids;
      };
      return true;
    }
    case Kind::kStart: {
      if (t.filtering) return true;
      std::vector<std::pair<Key, std::vector<uint64_t>>> exceptionIds, blockIds;
      for (const auto& row : t.exceptions) {
        exceptionIds.emplace_back(row.first, std::vector<uint64_t>());
        if (!AddFilters(PlanException(row.second.entry), &exceptionIds.back().second)) return false;
      }
      for (const auto& row : t.blocks) {
        std::vector<CWfpFilterSpec> plan;
        PlanBlock(row.second.entry, &plan);
        blockIds.emplace_back(row.first, std::vector<uint64_t>());
        if (!AddFilters(plan, &blockIds.back().second)) return false;
      }
      std::vector<uint64_t> pingIds;
      if (!AddFilters(PlanPingRule(t.ping), &pingIds)) return false;
      *change = [exceptionIds, blockIds, pingIds](Tables& to) {
        for (const auto& e : exceptionIds) to.exceptions[e.first].ids = e.second;
        for (const auto& b : blockIds) to.blocks[b.first].ids = b.second;
        to.pingIds = pingIds;
        to.filtering = true;
      };
      return true;
    }
    case Kind::kStop: {
      if (!t.filtering) return true;
      for (const auto& row : t.exceptions) {
        if (!DeleteFilters(row.second.ids)) return false;
      }
      for (const auto& row : t.blocks) {
        if (!DeleteFilters(row.second.ids)) return false;
      }
      if (!DeleteFilters(t.pingIds)) return false;
      // The tables stay: a later start writes them again, as the driver keeps them while
      // not filtering.
      *change = [](Tables& to) {
        for (auto& e : to.exceptions) e.second.ids.clear();
        for (auto& b : to.blocks) b.second.ids.clear();
        to.pingIds.clear();
        to.filtering = false;
      };
      return true;
    }
  }
  return false;
}

bool CUserModeDevice::EnsureTransaction() {
  if (m_txnOpen) return true;
  const WfpStatus status = m_engine.BeginTransaction();
  if (status != kWfpOk) return Failed(status, "开始事务");
  m_txnOpen = true;
  return true;
}

bool CUserModeDevice::AddFilters(const std::vector<CWfpFilterSpec>& filters, std::vector<uint64_t>* ids) {
  for (const CWfpFilterSpec& f : filters) {
    if (!EnsureTransaction()) return false;
    uint64_t id = 0;
    const WfpStatus status = m_engine.AddFilter(f, &id);
    if (status != kWfpOk) return Failed(status, "添加过滤器");
    ids->push_back(id);
  }
  return true;
}

bool CUserModeDevice::DeleteFilters(const std::vector<uint64_t>& ids) {
  for (uint64_t id : ids) {
    if (!EnsureTransaction()) return false;
    const WfpStatus status = m_engine.DeleteFilter(id);
    if (status != kWfpOk && status != kFilterNotFound) return Failed(status, "删除过滤器");
  }
  return true;
}

bool CUserModeDevice::Failed(WfpStatus status, const char* step) {
  m_failStatus = status;
  m_failStep = step;
  return false;
}

// Capture runs while filtering does. A capture that cannot start costs the snapshot only:
// blocking goes on, so it is logged and not a refusal.
void CUserModeDevice::SyncCapture() {
  if (m_pCapture == nullptr) return;
  if (m_tables.filtering && !m_capturing) {
    std::string why;
    if (m_pCapture->Start(m_ring, &why)) m_capturing = true;
    else Log("抓包未能启动(" + why + "),封锁照常,流量监控看不到数据包");
  } else if (!m_tables.filtering && m_capturing) {
    m_pCapture->Stop();
    m_capturing = false;
  }
}

std::string CUserModeDevice::Describe(const Command& command) const {
  const _CIPFilter& b = command.block;
  switch (command.kind) {
    case Kind::kStart: return "开始过滤";
    case Kind::kStop: return "停止过滤";
    case Kind::kAddException: return "添加例外 " + InetNtoa(command.outer.dwIp);
    case Kind::kRemoveException: return "删除例外 " + InetNtoa(command.outer.dwIp);
    case Kind::kAddBlock: return "添加封锁 " + InetNtoa(b.dwIp) + " 端口 " + PortText(b.dwPort);
    case Kind::kRemoveBlock: return "删除封锁 " + InetNtoa(b.dwIp) + " 端口 " + PortText(b.dwPort);
    case Kind::kRemoveAll: return "删除全部封锁";
    case Kind::kPingRule:
      return std::string("Ping 规则 ") + command.ping.szProtocol + " " + std::to_string(command.ping.dwValue);
  }
  return "";
}

void CUserModeDevice::Log(const std::string& line) const {
  if (m_log) m_log(kLogHead + line);
}

bool CUserModeDevice::Filtering() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_tables.filtering;
}

std::size_t CUserModeDevice::ExceptionCount() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_tables.exceptions.size();
}

std::size_t CUserModeDevice::BlockCount() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_tables.blocks.size();
}

std::size_t CUserModeDevice::FiltersInstalled() const {
  std::lock_guard<std::mutex> hold(m_lock);
  std::size_t n = m_tables.pingIds.size();
  for (const auto& e : m_tables.exceptions) n += e.second.ids.size();
  for (const auto& b : m_tables.blocks) n += b.second.ids.size();
  return n;
}

uint64_t CUserModeDevice::TransactionsCommitted() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_committed;
}
