#pragma once
// The packet filter device served in user mode: it answers the driver's control codes and
// records as the driver does, keeps the driver's two tables and its ping rule, and writes them
// as filters of the filtering engine (one transaction per command, or per batch), while the
// snapshot comes from a capture feeding the ring. The driver link cannot tell it from the
// driver except through the status reply.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "driver/device_port.h"
#include "driver/driver_records.h"
#include "wfpfilter/capture_port.h"
#include "wfpfilter/capture_ring.h"
#include "wfpfilter/wfp_engine_port.h"

// The handle value Open gives; the device is not a system object, only one open is allowed.
constexpr DeviceHandle kUserModeDeviceHandle = 0x57465044;  // "DPFW"

class CUserModeDevice : public IDevice {
 public:
  // One line of the cfg daily log, GBK, without the time of day or the line end.
  using LogLine = std::function<void(const std::string&)>;

  // `capture` may be null (no snapshot but an empty one); both outlive the device.
  CUserModeDevice(IWfpEngine& engine, IPacketCapture* capture, LogLine log);
  ~CUserModeDevice() override;
  CUserModeDevice(const CUserModeDevice&) = delete;
  CUserModeDevice& operator=(const CUserModeDevice&) = delete;

  // Opens the engine session whatever the name; a second open while open fails, as the
  // driver's unshared handle does.
  DeviceHandle Open(const char* name) override;
  bool Control(DeviceHandle h, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
               uint32_t* returned) override;
  bool Cancel(DeviceHandle h) override;
  // Ends the capture and the engine session (the session's filters go with it) and forgets the
  // tables: the next open starts empty, as the start sequence expects to load them again.
  bool Close(DeviceHandle h) override;
  // Commands in between share one transaction; each still answers for itself.
  void BeginBatch(DeviceHandle h) override;
  void EndBatch(DeviceHandle h) override;
  bool NeedsPacing() const override { return false; }

  CCaptureRing& Ring() { return m_ring; }

  // For tests and the status bar.
  bool Filtering() const;
  std::size_t ExceptionCount() const;
  std::size_t BlockCount() const;
  std::size_t FiltersInstalled() const;  // filter ids held for the current tables
  uint64_t TransactionsCommitted() const;

 private:
  enum class Kind { kStart, kStop, kAddException, kRemoveException, kAddBlock, kRemoveBlock, kRemoveAll, kPingRule };
  struct Command {
    Kind kind = Kind::kStart;
    _CIPOuter outer;
    _CIPFilter block;
    _CPingRule ping;
  };
  struct ExceptionRow {
    _CIPOuter entry;
    std::vector<uint64_t> ids;
  };
  struct BlockRow {
    _CIPFilter entry;
    std::vector<uint64_t> ids;
  };
  // The driver tells entries apart by address and port.
  using Key = uint64_t;
  struct Tables {
    std::map<Key, ExceptionRow> exceptions;
    std::map<Key, BlockRow> blocks;
    _CPingRule ping;  // as last received; its filters only for "ICMP"
    std::vector<uint64_t> pingIds;
    bool filtering = false;
  };
  using Change = std::function<void(Tables&)>;

  bool Decode(uint32_t code, const uint8_t* in, uint32_t inSize, Command* command);
  bool Query(const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t* returned);
  bool Run(const Command& command);
  bool RunAlone(const Command& command);
  void ReplayBatchAlone();
  // Does the engine work of one command in the open (or a newly opened) transaction and says
  // how the tables change once it holds; false at the first engine error.
  bool Prepare(const Command& command, Change* change);
  bool AddFilters(const std::vector<CWfpFilterSpec>& filters, std::vector<uint64_t>* ids);
  bool DeleteFilters(const std::vector<uint64_t>& ids);
  bool EnsureTransaction();
  bool Failed(WfpStatus status, const char* step);
  void SyncCapture();
  void CloseLocked();
  std::string Describe(const Command& command) const;
  void Log(const std::string& line) const;

  IWfpEngine& m_engine;
  IPacketCapture* m_pCapture;
  LogLine m_log;
  CCaptureRing m_ring;

  mutable std::mutex m_lock;
  bool m_open = false;
  bool m_capturing = false;
  Tables m_tables;
  bool m_txnOpen = false;
  WfpStatus m_failStatus = kWfpOk;
  const char* m_failStep = "";

  bool m_batching = false;
  bool m_batchDegraded = false;  // a command failed: the rest of the batch goes one by one
  bool m_batchSaved = false;
  Tables m_beforeBatch;
  std::vector<Command> m_batchCommands;

  uint64_t m_committed = 0;
};
