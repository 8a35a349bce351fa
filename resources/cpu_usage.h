#pragma once
// CPU usage from the system's accumulated idle time: one sample a second, the figure is the
// share of the last interval the processors were not idle. The arithmetic lives here; the
// query itself (ntdll's NtQuerySystemInformation) sits behind ISystemInformation.
#include <array>
#include <cstdint>

// The three information classes the sampler reads, and their buffer sizes.
constexpr uint32_t kBasicInformation = 0;        // processor count
constexpr uint32_t kPerformanceInformation = 2;  // idle time: bytes 0..7
constexpr uint32_t kTimeOfDayInformation = 3;    // system time: bytes 8..15
constexpr uint32_t kPerformanceInfoSize = 312;
constexpr uint32_t kTimeOfDayInfoSize = 32;

// The basic information holds pointer-sized fields, so its size and the offset of the
// processor count depend on the width of the running build.
struct CSystemInfoLayout {
  uint32_t nBasicSize;
  uint32_t nProcessorsOffset;
};
constexpr CSystemInfoLayout kLayout32{44, 40};
constexpr CSystemInfoLayout kLayout64{64, 56};
constexpr CSystemInfoLayout kBuildLayout = sizeof(void*) == 8 ? kLayout64 : kLayout32;

class ISystemInformation {
 public:
  virtual ~ISystemInformation() = default;
  virtual bool Available() = 0;  // the query entry exists
  // Status of the query (0 = success); the buffer holds length bytes.
  virtual int32_t Query(uint32_t infoClass, void* buffer, uint32_t length) = 0;
};

// A 64-bit count as the sampler turns it into a floating point number: high half times
// 2^32 plus the low half taken unsigned.
double CountAsDouble(int64_t count);

// The whole-percent figure of one interval: 100 - idle / system x 100 / processors, rounded
// to the nearest percent and kept within 0..100. -1 when the interval cannot give a figure
// (no time passed, the clock went back, no processor count).
int CpuUsageFigure(int64_t idleDelta, int64_t systemDelta, unsigned processors, double* real = nullptr);

class CCpuSampler {
 public:
  CCpuSampler(ISystemInformation& info, const CSystemInfoLayout& layout = kBuildLayout);

  // Reads the basic information once; false leaves the figure at 0 for good.
  bool Begin();
  // One sample: the first lays the baseline, every later one publishes a figure. A failed
  // query skips the sample and keeps the last figure. Returns 0.
  int Sample();
  int GetCpuUsage() const { return m_nCpuUsage; }
  unsigned Processors() const { return m_basic[m_layout.nProcessorsOffset]; }
  int32_t Status() const { return m_nStatus; }

 private:
  ISystemInformation& m_info;
  CSystemInfoLayout m_layout;
  std::array<uint8_t, kPerformanceInfoSize> m_performance{};
  std::array<uint8_t, kTimeOfDayInfoSize> m_timeOfDay{};
  std::array<uint8_t, kLayout64.nBasicSize> m_basic{};
  double m_dCpuUsage = 0;
  double m_dSystemDelta = 0;
  int32_t m_nStatus = 0;
  int64_t m_llOldIdleTime = 0;
  int64_t m_llOldSystemTime = 0;
  int m_nCpuUsage = 0;
};
