#pragma once
// The capture the program creates: raw sockets where Windows allows them (administrator rights,
// a real network stack), else the TCP connection table, else nothing. Mode() and Why() say which
// and why, for the configuration log and the main window.
#include <memory>
#include <string>

#include "wfpfilter/capture_mode.h"
#include "wfpfilter/capture_port.h"

class CSystemPacketCapture : public IPacketCapture {
 public:
  // Raw sockets on every local address, then the connection table polled once a second.
  CSystemPacketCapture();
  // The two ways, given (tests: a connection table that counts loopback); either may be null.
  CSystemPacketCapture(std::unique_ptr<IPacketCapture> raw, std::unique_ptr<IPacketCapture> table);
  ~CSystemPacketCapture() override;

  // Tries raw sockets, then the table. True when either runs; `why` gets the same text as Why().
  bool Start(CCaptureRing& ring, std::string* why) override;
  void Stop() override;

  ECaptureMode Mode() const { return m_mode; }
  // Raw sockets: the addresses refused, if any. Table: why raw sockets were refused. None:
  // both refusals.
  const std::string& Why() const { return m_why; }

 private:
  std::unique_ptr<IPacketCapture> m_raw;
  std::unique_ptr<IPacketCapture> m_table;
  IPacketCapture* m_running = nullptr;
  ECaptureMode m_mode = ECaptureMode::kNone;
  std::string m_why;
};
