#pragma once
// A small HTTP server on 127.0.0.1 inside the test process, for services that misbehave: each
// path answers with a text, stays silent (the connection is held open with no answer), or
// answers without end (a text, then 'x' for ever, or one byte every half second), answers
// late (Slow: the text after SlowMs), or sends its headers a byte at a time without end
// (TrickleHead). It records every request target. The destructor closes every connection and ends its threads.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CTestHttpServer {
 public:
  enum class Mode { Text, Silent, Endless, Trickle, Slow, TrickleHead };

  CTestHttpServer();  // listening on a free port
  ~CTestHttpServer();
  CTestHttpServer(const CTestHttpServer&) = delete;
  CTestHttpServer& operator=(const CTestHttpServer&) = delete;

  // How the path (the target up to "?") answers; unknown paths answer status 404 with the text "404".
  // A Slow path with slowMs of its own waits that long instead of SetSlowMs's delay.
  void Route(const std::string& path, Mode mode, const std::string& text = "", DWORD slowMs = 0);
  std::string Host() const { return "127.0.0.1:" + std::to_string(m_nPort); }
  std::string Base() const { return "http://" + Host(); }
  std::vector<std::string> Requests();                // targets in arrival order
  size_t CountRequests(const std::string& path);      // requests for one path
  void SetSlowMs(DWORD ms) { m_nSlowMs = ms; }         // delay of Mode::Slow answers

 private:
  struct CRoute {
    Mode mode = Mode::Text;
    std::string text;
    DWORD slowMs = 0;
  };
  void AcceptLoop();
  void Serve(SOCKET client);

  SOCKET m_listener = INVALID_SOCKET;
  int m_nPort = 0;
  std::atomic<bool> m_bStop{false};
  std::atomic<DWORD> m_nSlowMs{3000};
  std::mutex m_lock;
  std::map<std::string, CRoute> m_routes;
  std::vector<std::string> m_requests;
  std::vector<SOCKET> m_clients;
  std::vector<std::thread> m_threads;
  std::thread m_acceptor;
};
