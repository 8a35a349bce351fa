#pragma once
// Where the user-mode device's packet records come from: a capture that pushes every packet it
// sees into the ring, which the device empties into the snapshot at each fetch.
#include <string>

class CCaptureRing;

class IPacketCapture {
 public:
  virtual ~IPacketCapture() = default;
  // Starts feeding `ring` from threads of its own; false (and why, for the log) when nothing
  // could be started.
  virtual bool Start(CCaptureRing& ring, std::string* why) = 0;
  // Ends the feeding; no Push happens after it returns.
  virtual void Stop() = 0;
};
