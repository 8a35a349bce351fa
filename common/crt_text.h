#pragma once
// The C-library and Winsock text conversions that stored files and the driver records
// depend on, written out so that every build (and the native tests) agree bit for bit.
#include <cstdint>
#include <string>


// atoi/atol as the Windows C runtime does them: leading blanks, optional sign, decimal
// digits up to the first non-digit; out-of-range values clamp to the 32-bit limits.
int32_t CAtoi(const char* text);
inline int32_t CAtol(const char* text) { return CAtoi(text); }

// Winsock inet_addr (Windows Server 2003 and later): dotted parts in C notation
// (decimal, 0 octal, 0x hex), forms a.b.c.d, a.b.c (c 16-bit), a.b (b 24-bit) and a;
// parsing ends at the first blank. An empty text and any malformed text give
// INADDR_NONE; a text that begins with a blank gives 0. Result in network byte order.
constexpr uint32_t kInaddrNone = 0xFFFFFFFFu;
uint32_t InetAddr(const char* text);
inline uint32_t InetAddr(const std::string& text) { return InetAddr(text.c_str()); }

// inet_ntoa of a network-order address.
std::string InetNtoa(uint32_t ip);

uint16_t Htons(uint16_t host);
inline uint16_t Ntohs(uint16_t net) { return Htons(net); }

// The port field of a driver record: htons of the C atol of the text, zero-extended.
uint32_t PortFromText(const char* text);
inline uint32_t PortFromText(const std::string& text) { return PortFromText(text.c_str()); }

// A text of decimal digits only (not empty), and its value; values beyond the int range
// stop at its limit (the dialogs' number fields).
bool ParseDigits(const std::string& text, int* value);
