/*
 * fw_match.h: what the stand-in driver drops, and nothing else: the two table records, how an
 * entry matches a packet and the decision for one injected packet. Plain C with fixed-width
 * types, so the kernel driver (mingw, C) and the native tests (C++) compile the very same code;
 * the tests judge the user-mode packet filter's decisions against it.
 */
#ifndef FW_MATCH_H
#define FW_MATCH_H

#include <stdint.h>

#ifdef __cplusplus
#define FW_MATCH_ASSERT(cond, what) static_assert(cond, what)
#else
#define FW_MATCH_ASSERT(cond, what) _Static_assert(cond, what)
#endif

#define FW_EXACT_MARK 0x54435845u /* reserved word of a blocked entry matched exactly ("EXCT") */
#define FW_PROTOCOL_ICMP 1u

/* Records of the wire interface; all integers little-endian, addresses in network order. */
typedef struct FW_OUTER {
  uint32_t dwIp;
  uint32_t dwPort;
} FW_OUTER;

typedef struct FW_FILTER {
  uint32_t dwIp;
  uint32_t dwPort;     /* htons of the port in the low half; 0 = every port */
  uint32_t dwReserved; /* FW_EXACT_MARK: the address is matched exactly, no octet wildcard */
  int32_t tExpire;
  uint32_t hostRef1;
  uint32_t hostRef2;
  int32_t nType;
} FW_FILTER;

FW_MATCH_ASSERT(sizeof(FW_OUTER) == 8, "exception record");
FW_MATCH_ASSERT(sizeof(FW_FILTER) == 28, "blocked record");

/* The state a decision reads: both tables, the ICMP rule and the filtering switch. */
typedef struct FW_TABLES {
  int filtering;
  const FW_OUTER* exceptions;
  uint32_t nExceptions;
  const FW_FILTER* blocked;
  uint32_t nBlocked;
  int pingActive;
  uint32_t pingValue; /* the rule's dwValue: 1, 0 or an address in network order */
} FW_TABLES;

/* One packet as the injection record gives it: addresses in network order, ports host order. */
typedef struct FW_PACKET_VIEW {
  uint32_t nProtocol;
  uint32_t dwSrcIP;
  uint32_t dwDstIP;
  uint16_t wSrcPort;
  uint16_t wDstPort;
  int outgoing;
} FW_PACKET_VIEW;

enum { FW_PASS = 0, FW_DROP_PING = 1, FW_DROP_BLOCKED = 2 };

static inline uint32_t FwOctet(uint32_t ip, int i) { return (ip >> (8 * i)) & 0xFFu; }

/* Blocked entries: an octet 0 stands for any value unless the entry is marked exact; port 0
 * stands for every port. */
static inline int FwBlockedMatches(const FW_FILTER* f, uint32_t ip, uint16_t hostPort) {
  int i;
  if (f->dwReserved == FW_EXACT_MARK) {
    if (f->dwIp != ip) return 0;
  } else {
    for (i = 0; i < 4; ++i) {
      if (FwOctet(f->dwIp, i) != 0 && FwOctet(f->dwIp, i) != FwOctet(ip, i)) return 0;
    }
  }
  if ((f->dwPort & 0xFFFFu) == 0) return 1;
  return (uint16_t)(((f->dwPort & 0xFFu) << 8) | ((f->dwPort >> 8) & 0xFFu)) == hostPort;
}

/* Exceptions follow the client's own rule: equal, or equal octets up to the first 0 of the
 * pattern (a pattern starting with 0 covers only itself). */
static inline int FwExceptionCovers(const FW_OUTER* e, uint32_t ip) {
  int i;
  if (e->dwIp == ip) return 1;
  if (FwOctet(e->dwIp, 0) == 0) return 0;
  for (i = 0; i < 4; ++i) {
    if (FwOctet(e->dwIp, i) == 0) return 1;
    if (FwOctet(e->dwIp, i) != FwOctet(ip, i)) return 0;
  }
  return 1;
}

static inline int FwIsExcepted(const FW_TABLES* t, uint32_t ip) {
  uint32_t i;
  for (i = 0; i < t->nExceptions; ++i) {
    if (FwExceptionCovers(&t->exceptions[i], ip)) return 1;
  }
  return 0;
}

static inline int FwIsBlocked(const FW_TABLES* t, uint32_t ip, uint16_t hostPort) {
  uint32_t i;
  for (i = 0; i < t->nBlocked; ++i) {
    if (FwBlockedMatches(&t->blocked[i], ip, hostPort)) return 1;
  }
  return 0;
}

/* The ICMP rule value: 1 refuses both directions, 0 refuses outgoing pings, any other value is
 * the server's address and refuses incoming pings to it. Every ICMP message counts as a ping. */
static inline int FwPingRefused(const FW_TABLES* t, const FW_PACKET_VIEW* p) {
  if (!t->pingActive || p->nProtocol != FW_PROTOCOL_ICMP) return 0;
  if (t->pingValue == 1) return 1;
  if (t->pingValue == 0) return p->outgoing;
  return !p->outgoing && p->dwDstIP == t->pingValue;
}

/* The ping rule is checked first (an exception does not rescue a ping); a blocked entry drops
 * the packet unless an exception covers its remote address. Nothing is dropped while filtering
 * is stopped. The remote side is the destination of a packet that leaves the server, the
 * source of one that arrives; the server-side port likewise. */
static inline int FwDecide(const FW_TABLES* t, const FW_PACKET_VIEW* p) {
  const uint32_t remote = p->outgoing ? p->dwDstIP : p->dwSrcIP;
  const uint16_t localPort = p->outgoing ? p->wSrcPort : p->wDstPort;
  if (!t->filtering) return FW_PASS;
  if (FwPingRefused(t, p)) return FW_DROP_PING;
  if (FwIsBlocked(t, remote, localPort) && !FwIsExcepted(t, remote)) return FW_DROP_BLOCKED;
  return FW_PASS;
}

#endif /* FW_MATCH_H */
