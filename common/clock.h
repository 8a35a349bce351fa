#pragma once
// Time port: C time() seconds. Logic asks this instead of the system so tests can move time.
#include <cstdint>

class IClock {
 public:
  virtual ~IClock() = default;
  virtual int64_t Now() = 0;
};

class CSystemClock : public IClock {
 public:
  int64_t Now() override;
};

// A clock that only moves when told to.
class CManualClock : public IClock {
 public:
  explicit CManualClock(int64_t start = 1700000000) : m_tNow(start) {}
  int64_t Now() override { return m_tNow; }
  void Set(int64_t t) { m_tNow = t; }
  void Advance(int64_t seconds) { m_tNow += seconds; }

 private:
  int64_t m_tNow;
};
