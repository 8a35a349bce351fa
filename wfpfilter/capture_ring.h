#pragma once
// The captured packets waiting for the next fetch, kept as the driver keeps them: a FIFO of
// 20,000 records whose oldest makes room when it is full, emptied into the snapshot layout at
// each fetch. Capture threads push while the packet reader fetches, so every call locks.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "driver/driver_records.h"

class CCaptureRing {
 public:
  CCaptureRing();
  CCaptureRing(const CCaptureRing&) = delete;
  CCaptureRing& operator=(const CCaptureRing&) = delete;

  // Stores a copy; a record of size 0 is stored with size 1 (size 0 marks an empty slot).
  void Push(const _CPacketInfo& info);
  // Zeroes the whole kPacketSnapshotSize bytes, places the waiting records from the next start
  // slot on (a batch that would run past the last slot begins at slot 0), writes that start
  // and empties the ring; the next batch begins after this one. False, writing nothing, when
  // `size` is smaller than a snapshot.
  bool FillSnapshot(uint8_t* out, std::size_t size);
  // Forgets the waiting records and the counters; the next batch begins at slot 0.
  void Clear();

  uint64_t Pushed() const;
  uint64_t Overwritten() const;  // pushed out by a newer record before any fetch took them
  int Pending() const;

 private:
  mutable std::mutex m_lock;
  std::vector<_CPacketInfo> m_slots;  // kPacketSlots, allocated once
  int m_head = 0;                     // the oldest waiting record
  int m_count = 0;
  int m_nextStart = 0;
  uint64_t m_pushed = 0;
  uint64_t m_overwritten = 0;
};
