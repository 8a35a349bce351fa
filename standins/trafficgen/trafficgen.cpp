// trafficgen: generates traffic inside the firewall driver (firewalldriver.sys), which sees no
// real network: each packet goes through the same tables as real traffic would.
//
//   trafficgen flood   <from> <server> <port> <count> [options]  packets from <from> to a port
//   trafficgen reply   <server> <to> <port> <count> [options]    server replies from <port>
//   trafficgen ping-in  <from> <server> <count> [options]        pings towards the server
//   trafficgen ping-out <server> <to> <count> [options]          pings from the server
//   trafficgen stats                                             counters and both tables
//   trafficgen reset [packets|tables|all]
// options: --size BYTES (default 60), --rate PACKETS_PER_SECOND (0 = all at once, default),
//          --udp (flood and reply only), --src-port N (default 40000)
// Exit code: 0 done, 1 the driver refused or is not loaded, 2 usage.
// The driver answers these requests only when it was loaded in test mode (see its README).
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kDevice[] = "\\\\.\\FIREWALLDRIVER";
constexpr DWORD kIoctlInject = 0x222020;
constexpr DWORD kIoctlCounters = 0x222024;
constexpr DWORD kIoctlReset = 0x222028;
constexpr size_t kInjectSize = 28;
constexpr size_t kCountersHeader = 80;
constexpr uint32_t kMaxRepeat = 20000;  // the driver's bound on one record's repeat count

void Put32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}
uint32_t Get32(const uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

struct Packet {
  uint32_t protocol = 6;
  uint32_t src = 0, dst = 0;  // network order
  uint16_t srcPort = 0, dstPort = 0;
  uint32_t size = 60;
  bool outgoing = false;
};

class Device {
 public:
  Device() {
    m_h = CreateFileA(kDevice, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  ~Device() {
    if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
  }
  bool Ok() const { return m_h != INVALID_HANDLE_VALUE; }
  bool Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* got) {
    return DeviceIoControl(m_h, code, const_cast<void*>(in), inSize, out, outSize, got,
                           nullptr) != FALSE;
  }

 private:
  HANDLE m_h;
};

bool InjectOnce(Device& dev, const Packet& p, uint32_t count, uint32_t* recorded,
                uint32_t* dropped) {
  uint8_t in[kInjectSize] = {};
  Put32(in, p.protocol);
  Put32(in + 4, p.src);
  Put32(in + 8, p.dst);
  Put16(in + 12, p.srcPort);
  Put16(in + 14, p.dstPort);
  Put32(in + 16, p.size);
  Put32(in + 20, count);
  Put32(in + 24, p.outgoing ? 1 : 0);
  uint8_t out[8] = {};
  DWORD got = 0;
  if (!dev.Control(kIoctlInject, in, sizeof in, out, sizeof out, &got)) return false;
  *recorded += Get32(out);
  *dropped += Get32(out + 4);
  return true;
}

// Any count, in requests the driver accepts.
bool Inject(Device& dev, const Packet& p, uint32_t count, uint32_t* recorded, uint32_t* dropped) {
  while (count > 0) {
    const uint32_t n = count < kMaxRepeat ? count : kMaxRepeat;
    if (!InjectOnce(dev, p, n, recorded, dropped)) return false;
    count -= n;
  }
  return true;
}

std::string Dotted(uint32_t ip) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip & 0xFF, (ip >> 8) & 0xFF,
                (ip >> 16) & 0xFF, ip >> 24);
  return text;
}

int Stats(Device& dev) {
  std::vector<uint8_t> out(kCountersHeader + 1024 * 8 + 4096 * 28);
  DWORD got = 0;
  if (!dev.Control(kIoctlCounters, nullptr, 0, out.data(), static_cast<DWORD>(out.size()), &got) ||
      got < kCountersHeader) {
    std::fprintf(stderr, "trafficgen: the driver gave no counters\n");
    return 1;
  }
  const uint8_t* p = out.data();
  std::printf("filtering %u\ninjected %u\nrecorded %u\ndropped-blocked %u\ndropped-ping %u\n"
              "overwritten %u\npending %u\nfetches %u\n",
              Get32(p), Get32(p + 4), Get32(p + 8), Get32(p + 12), Get32(p + 16), Get32(p + 20),
              Get32(p + 24), Get32(p + 28));
  const uint32_t nExceptions = Get32(p + 32), nBlocked = Get32(p + 36);
  char protocol[33] = {};
  std::memcpy(protocol, p + 44, 32);
  std::printf("ping-rule %s %s %u\n", Get32(p + 40) ? "on" : "off", protocol, Get32(p + 76));
  size_t at = kCountersHeader;
  for (uint32_t i = 0; i < nExceptions && at + 8 <= got; ++i, at += 8) {
    std::printf("exception %s\n", Dotted(Get32(p + at)).c_str());
  }
  for (uint32_t i = 0; i < nBlocked && at + 28 <= got; ++i, at += 28) {
    const uint32_t port = Get32(p + at + 4) & 0xFFFF;
    std::printf("blocked %s port %u expire %d type %d\n", Dotted(Get32(p + at)).c_str(),
                ntohs(static_cast<u_short>(port)), static_cast<int>(Get32(p + at + 12)),
                static_cast<int>(Get32(p + at + 24)));
  }
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: trafficgen flood|reply <a> <b> <port> <count> [--size N] [--rate PPS] "
               "[--udp] [--src-port N]\n"
               "       trafficgen ping-in|ping-out <a> <b> <count> [--size N] [--rate PPS]\n"
               "       trafficgen stats\n"
               "       trafficgen reset [packets|tables|all]\n");
  return 2;
}

bool ParseIp(const char* text, uint32_t* ip) {
  *ip = inet_addr(text);
  return *ip != INADDR_NONE || std::strcmp(text, "255.255.255.255") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string verb = argv[1];
  Device dev;
  if (!dev.Ok()) {
    std::fprintf(stderr, "trafficgen: %s does not open (error %lu); is the driver loaded?\n",
                 kDevice, GetLastError());
    return 1;
  }
  if (verb == "stats") return Stats(dev);
  if (verb == "reset") {
    const std::string what = argc > 2 ? argv[2] : "all";
    uint8_t in[4];
    Put32(in, what == "packets" ? 1u : what == "tables" ? 2u : 3u);
    DWORD got = 0;
    return dev.Control(kIoctlReset, in, sizeof in, nullptr, 0, &got) ? 0 : 1;
  }

  const bool ping = verb == "ping-in" || verb == "ping-out";
  const bool outgoing = verb == "reply" || verb == "ping-out";
  if (!ping && verb != "flood" && verb != "reply") return Usage();
  const int fixed = ping ? 5 : 6;
  if (argc < fixed) return Usage();
  Packet p;
  if (!ParseIp(argv[2], &p.src) || !ParseIp(argv[3], &p.dst)) return Usage();
  long count = 0;
  uint16_t srcPort = 40000;
  if (ping) {
    p.protocol = 1;
    count = std::atol(argv[4]);
  } else {
    const long port = std::atol(argv[4]);
    if (port < 0 || port > 65535) return Usage();
    count = std::atol(argv[5]);
    // The server side of the conversation owns the named port.
    if (outgoing) p.srcPort = static_cast<uint16_t>(port); else p.dstPort = static_cast<uint16_t>(port);
  }
  double rate = 0;
  for (int i = fixed; i < argc; ++i) {
    const std::string opt = argv[i];
    if (opt == "--udp" && !ping) {
      p.protocol = 17;
    } else if (opt == "--size" && i + 1 < argc) {
      p.size = static_cast<uint32_t>(std::atol(argv[++i]));
    } else if (opt == "--rate" && i + 1 < argc) {
      rate = std::atof(argv[++i]);
    } else if (opt == "--src-port" && i + 1 < argc && !ping) {
      srcPort = static_cast<uint16_t>(std::atol(argv[++i]));
    } else {
      return Usage();
    }
  }
  if (count <= 0 || p.size == 0) return Usage();
  if (!ping) {
    if (outgoing) p.dstPort = srcPort; else p.srcPort = srcPort;
  }
  p.outgoing = outgoing;

  uint32_t recorded = 0, dropped = 0;
  const uint32_t total = static_cast<uint32_t>(count);
  if (rate <= 0) {
    if (!Inject(dev, p, total, &recorded, &dropped)) return 1;
  } else {
    // Paced in 50 ms steps: each step sends what is due by then.
    const DWORD begin = GetTickCount();
    uint32_t sent = 0;
    while (sent < total) {
      const double elapsed = (GetTickCount() - begin) / 1000.0;
      uint32_t due = static_cast<uint32_t>(rate * elapsed) + 1;
      if (due > total) due = total;
      if (due > sent) {
        if (!Inject(dev, p, due - sent, &recorded, &dropped)) return 1;
        sent = due;
      }
      if (sent < total) Sleep(50);
    }
  }
  std::printf("%s %s -> %s: injected %u, recorded %u, dropped %u\n", verb.c_str(),
              Dotted(p.src).c_str(), Dotted(p.dst).c_str(), total, recorded, dropped);
  return 0;
}
