#pragma once
// The few device calls the driver link needs, so that its logic runs the same against the
// real device (Win32) and against a fake one in the native tests.
#include <cstdint>

// A device handle as the system gives it; all bits set means "not open".
using DeviceHandle = uintptr_t;
constexpr DeviceHandle kInvalidDevice = ~static_cast<DeviceHandle>(0);

class IDevice {
 public:
  virtual ~IDevice() = default;
  // Opens the named device for reading and writing, unshared, existing only; kInvalidDevice
  // when it cannot be opened.
  virtual DeviceHandle Open(const char* name) = 0;
  // One synchronous control request; true when the device accepted it.
  virtual bool Control(DeviceHandle h, uint32_t code, const void* in, uint32_t inSize, void* out,
                       uint32_t outSize, uint32_t* returned) = 0;
  virtual bool Cancel(DeviceHandle h) = 0;
  virtual bool Close(DeviceHandle h) = 0;
  // The list load at each start brackets its commands with these: a device that can apply
  // many commands at once (one transaction) does so; each command still answers on its own.
  virtual void BeginBatch(DeviceHandle) {}
  virtual void EndBatch(DeviceHandle) {}
  // Whether the load must pause after each entry it sends (the vendor's driver needs it).
  virtual bool NeedsPacing() const { return true; }
};
