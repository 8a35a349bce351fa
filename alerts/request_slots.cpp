#include "alerts/request_slots.h"

#include <memory>
#include <utility>

namespace {
// Frees the slot when the last copy of the work goes: after it ran, or when it never will.
struct CSlotRelease {
  std::atomic<bool>* pBusy;
  ~CSlotRelease() { pBusy->store(false); }
};
}  // namespace

bool CRequestSlots::Start(RequestKind kind, std::function<void()> work) {
  std::atomic<bool>& busy = m_busy[Index(kind)];
  if (busy.exchange(true)) return false;
  std::shared_ptr<CSlotRelease> release(new CSlotRelease{&busy});
  try {
    m_threads.Start([release, work = std::move(work)] {
      try {
        work();
      } catch (...) {
        // a failed request ends quietly; its slot is freed with it
      }
    });
  } catch (...) {
    return false;  // the work is gone, and with it the slot's hold
  }
  return true;
}
