#include "test_http_server_win32.h"

namespace {

bool SendAll(SOCKET s, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const int n = send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

CTestHttpServer::CTestHttpServer() {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(m_listener, 16);
  int length = sizeof address;
  getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
  m_nPort = ntohs(address.sin_port);
  m_acceptor = std::thread([this] { AcceptLoop(); });
}

CTestHttpServer::~CTestHttpServer() {
  m_bStop = true;
  closesocket(m_listener);
  {
    std::lock_guard<std::mutex> hold(m_lock);
    for (SOCKET client : m_clients) shutdown(client, SD_BOTH);
  }
  if (m_acceptor.joinable()) m_acceptor.join();
  for (std::thread& thread : m_threads) thread.join();
  std::lock_guard<std::mutex> hold(m_lock);
  for (SOCKET client : m_clients) closesocket(client);
  WSACleanup();
}

void CTestHttpServer::Route(const std::string& path, Mode mode, const std::string& text, DWORD slowMs) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_routes[path] = CRoute{mode, text, slowMs};
}

std::vector<std::string> CTestHttpServer::Requests() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_requests;
}

size_t CTestHttpServer::CountRequests(const std::string& path) {
  size_t n = 0;
  for (const std::string& target : Requests()) n += target.substr(0, target.find('?')) == path;
  return n;
}

void CTestHttpServer::AcceptLoop() {
  while (!m_bStop) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(m_listener, &ready);
    timeval wait = {0, 100000};
    if (select(0, &ready, nullptr, nullptr, &wait) <= 0) continue;
    const SOCKET client = accept(m_listener, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_bStop) {
      closesocket(client);
      break;
    }
    m_clients.push_back(client);
    m_threads.emplace_back([this, client] { Serve(client); });
  }
}

void CTestHttpServer::Serve(SOCKET client) {
  std::string request;
  char buffer[2048];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
    const int n = recv(client, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    request.append(buffer, static_cast<size_t>(n));
  }
  const size_t begin = request.find(' ') + 1;
  const std::string target = request.substr(begin, request.find(' ', begin) - begin);
  CRoute route{Mode::Text, "404", 0};
  bool known = false;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_requests.push_back(target);
    const auto it = m_routes.find(target.substr(0, target.find('?')));
    known = it != m_routes.end();
    if (known) route = it->second;
  }
  const std::string head = std::string(known ? "HTTP/1.0 200 OK" : "HTTP/1.0 404 Not Found") + "\r\nContent-Type: text/plain\r\nConnection: close\r\n";
  switch (route.mode) {
    case Mode::Slow:
      for (DWORD waited = 0, delay = route.slowMs ? route.slowMs : m_nSlowMs.load(); waited < delay && !m_bStop;
           waited += 50) {
        Sleep(50);
      }
      [[fallthrough]];
    case Mode::Text:
      SendAll(client, head + "Content-Length: " + std::to_string(route.text.size()) + "\r\n\r\n" + route.text);
      shutdown(client, SD_SEND);
      break;
    case Mode::Silent:
      while (!m_bStop) Sleep(50);
      break;
    case Mode::Endless: {
      const std::string more(4096, 'x');
      if (!SendAll(client, head + "\r\n" + route.text)) break;
      while (!m_bStop && SendAll(client, more)) {
      }
      break;
    }
    case Mode::TrickleHead: {
      const std::string line = head + "X-Pad: ";
      for (size_t i = 0; !m_bStop; ++i) {
        if (!SendAll(client, std::string(1, i < line.size() ? line[i] : 'a'))) break;
        Sleep(200);
      }
      break;
    }
    case Mode::Trickle:
      if (!SendAll(client, head + "\r\n" + route.text)) break;
      while (!m_bStop && SendAll(client, "7")) Sleep(500);
      break;
  }
}
