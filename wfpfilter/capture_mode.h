#pragma once
// Which way the user-mode device counts traffic, for the log and the main window.
enum class ECaptureMode {
  kNone,             // nothing could be started: the monitor stays empty, flood blocking sees nothing
  kRawSockets,       // every IPv4 packet of the server's addresses, both directions
  kConnectionTable,  // new TCP connections only, one record each (raw sockets refused)
};

// The mode in a few words of the program's language.
inline const char* CaptureModeText(ECaptureMode mode) {
  switch (mode) {
    case ECaptureMode::kRawSockets: return "原始套接字抓包";
    case ECaptureMode::kConnectionTable: return "TCP连接表计数";
    case ECaptureMode::kNone: break;
  }
  return "无抓包";
}
