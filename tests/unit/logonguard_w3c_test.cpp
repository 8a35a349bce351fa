// IIS FTP logs: columns by the header, lines in pieces (the follower: logonguard_follower_test.cpp).
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "logonguard/logon_address.h"
#include "logonguard/w3c_log.h"

#include "gbk_converter_fake.h"

namespace {

const char kHeader[] =
    "#Software: Microsoft Internet Information Services 10.0\r\n#Version: 1.0\r\n#Date: 2026-12-08 00:00:00\r\n"
    "#Fields: date time c-ip c-port cs-username s-ip s-port cs-method cs-uri-stem sc-status sc-win32-status "
    "sc-substatus x-session x-fullpath\r\n";

std::string Line(const std::string& ip, const std::string& user, const std::string& method, const std::string& status) {
  return "2026-12-08 01:02:03 " + ip + " 50123 " + user + " 192.0.2.10 21 " + method + " - " + status +
         " 1326 41 5a8e0c2d-1 -\r\n";
}

std::vector<CLogonEvent> ReadAll(const std::string& text, TextConverter toAnsi = {}) {
  CW3cReader reader(std::move(toAnsi));
  CLineAssembler lines;
  std::vector<CLogonEvent> events;
  lines.Feed(text.data(), text.size(), [&](const char* line, size_t length) {
    CLogonEvent event = reader.ReadLine(line, length);
    if (event.eOutcome != ELogonOutcome::kNone) events.push_back(event);
  });
  return events;
}

TEST(W3cLog, PassAnswered530IsAFailureInAnyColumnOrder) {
  const auto events = ReadAll(std::string(kHeader) + Line("203.0.113.50", "admin", "USER", "331") +
                              Line("203.0.113.50", "admin", "PASS", "530") + Line("203.0.113.51", "bob", "PASS", "230") +
                              Line("203.0.113.52", "-", "RETR", "530"));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].eOutcome, ELogonOutcome::kFailure);
  EXPECT_EQ(events[0].eSource, ELogonSource::kFtp);
  EXPECT_EQ(events[0].strAddress, "203.0.113.50");
  EXPECT_EQ(events[0].strUser, "admin");
  EXPECT_EQ(events[0].strTime, "2026-12-08 01:02:03");
  EXPECT_EQ(events[1].eOutcome, ELogonOutcome::kSuccess);

  // Columns in another order; a new header in the middle of a file changes them again.
  const std::string reordered =
      "#Fields: sc-status cs-method c-ip time cs-username\n530 PASS 198.51.100.4 01:00:00 root\n"
      "#Fields: c-ip sc-status cs-method\n198.51.100.5 530 PASS\n";
  const auto other = ReadAll(reordered);
  ASSERT_EQ(other.size(), 2u);
  EXPECT_EQ(other[0].strAddress, "198.51.100.4");
  EXPECT_EQ(other[0].strUser, "root");
  EXPECT_EQ(other[1].strAddress, "198.51.100.5");
  EXPECT_EQ(other[1].strUser, "");
}

TEST(W3cLog, HostileLinesGiveNothing) {
  const std::string text = std::string(kHeader) +
                           "2026-12-08 01:02:03 203.0.113.50 50123 admin 192.0.2.10 21 PASS - 530\r\n" +  // cut short
                           "2026-12-08 01:02:03 203.0.113.50 50123 a b c 192.0.2.10 21 PASS - 530 0 0 x -\r\n" +
                           std::string(20000, 'A') + " PASS 530\r\n" + "\r\n" + "#Fields:\r\n" +
                           Line("203.0.113.50", "admin", "PASS", "530");  // no columns any more
  EXPECT_TRUE(ReadAll(text).empty());
  // Before any header nothing is read either.
  EXPECT_TRUE(ReadAll(Line("203.0.113.50", "admin", "PASS", "530")).empty());
  // An over-long user name is cut, control bytes replaced.
  const auto events = ReadAll(std::string(kHeader) + Line("203.0.113.50", std::string(500, 'u') + "\x01", "PASS", "530"));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].strUser.size(), kMaxUserBytes);
}

// The header's "#Fields:" line alone, for a reader fed line by line.
std::string FieldsLine() {
  const std::string header = kHeader;
  const size_t at = header.find("#Fields:");
  return header.substr(at, header.find("\r\n", at) - at);
}

// The address is the c-ip column's: a user name cannot move it, whatever it holds. IIS writes a
// blank inside a value as '+', so a raw blank means a line of another layout.
TEST(W3cLog, TheAddressComesFromTheClientColumnOnly) {
  // cs-username ahead of c-ip: a raw blank in the name would move the columns after it.
  const std::string userFirst = "#Fields: date time cs-username c-ip cs-method sc-status\n";
  EXPECT_TRUE(ReadAll(userFirst + "2026-12-08 01:02:03 x 192.168.1.10 203.0.113.50 PASS 530\n").empty());
  // A header of more columns than the reader keeps: a longer line must not pass for one of it.
  std::string wide = "#Fields: date time cs-method sc-status cs-username c-ip";
  std::string wideLine = "2026-12-08 01:02:03 PASS 530 x 192.168.1.10 203.0.113.50";
  for (int i = 0; i < 70; ++i) {
    wide += " x-f" + std::to_string(i);
    wideLine += " v";
  }
  EXPECT_TRUE(ReadAll(wide + "\n" + wideLine + "\n").empty());

  const std::string hostile[] = {"[CLIENT: 192.168.1.10]", "192.168.1.10", "#Fields:", "#", "<a>'b'&amp;",
                                 std::string("a\0b", 3), "a\rb", "a\x01" "b", "\xef\xbc\x9c" "192.168.1.10\xef\xbc\x9e",
                                 std::string(100 * 1024, 'u'), "a+192.168.1.10+b"};
  for (const std::string& name : hostile) {
    // Read as a whole line straight away, and through the assembler (which drops a line past its bound).
    CW3cReader reader;
    reader.ReadLine(FieldsLine());
    std::string line = Line("203.0.113.50", name, "PASS", "530");
    line.resize(line.size() - 2);
    const CLogonEvent direct = reader.ReadLine(line);
    // A raw blank makes a line of another layout: nothing, never the next column's text.
    const bool blank = name.find(' ') != std::string::npos;
    EXPECT_EQ(direct.eOutcome, blank ? ELogonOutcome::kNone : ELogonOutcome::kFailure) << name.substr(0, 40);
    EXPECT_EQ(direct.strAddress, blank ? "" : "203.0.113.50") << name.substr(0, 40);
    EXPECT_LE(direct.strUser.size(), kMaxUserBytes);
    EXPECT_EQ(direct.strUser.find_first_of(std::string("\0\r\n\x01", 4)), std::string::npos);
    for (const CLogonEvent& e : ReadAll(std::string(kHeader) + Line("203.0.113.50", name, "PASS", "530")))
      EXPECT_EQ(e.strAddress, "203.0.113.50") << name.substr(0, 40);
  }
  // A line break inside a value leaves two lines of another layout: neither gives anything.
  EXPECT_TRUE(ReadAll(std::string(kHeader) + Line("203.0.113.50", "a\n192.168.1.10 b", "PASS", "530")).empty());
  EXPECT_TRUE(ReadAll(std::string(kHeader) + Line("203.0.113.50", "a\r\n#Fields: c-ip cs-method sc-status", "PASS", "530")).empty());
  // Blanks, NUL, '#' and 100 KB values in the address column itself: no address.
  for (const std::string& ip : {std::string("192.168.1.10\0", 13), std::string("#192.168.1.10"),
                                std::string(100 * 1024, '1'), std::string("192.168.1.10+")}) {
    CW3cReader reader;
    reader.ReadLine(FieldsLine());
    std::string line = Line(ip, "admin", "PASS", "530");
    line.resize(line.size() - 2);
    const CLogonEvent e = reader.ReadLine(line);
    EXPECT_EQ(ReadLogonAddress(e.strAddress).eKind, EAddressKind::kIgnored) << ip.substr(0, 20);
  }
}

// IIS writes UTF-8 and '+' for a blank in a user name: the window shows the name as typed.
TEST(W3cLog, UserNamesAreShownAsTyped) {
  const std::string admin = "\xe7\xae\xa1\xe7\x90\x86\xe5\x91\x98";  // 管理员 in UTF-8
  const auto events = ReadAll(std::string(kHeader) + Line("203.0.113.50", admin, "PASS", "530") +
                                  Line("203.0.113.51", "web+admin", "PASS", "530") +
                                  Line("203.0.113.52", "\xb9\xdc\xc0\xed", "PASS", "530"),  // already GBK
                              Gbk);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].strUser, "管理员");
  EXPECT_EQ(events[1].strUser, "web admin");
  EXPECT_EQ(events[2].strUser, "\xb9\xdc\xc0\xed");
  // Cut at a whole character before it is converted.
  std::string many;
  for (int i = 0; i < 30; ++i) many += admin;
  const auto cut = ReadAll(std::string(kHeader) + Line("203.0.113.50", many, "PASS", "530"), Gbk);
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[0].strUser, Gbk(many.substr(0, 63)));
}

TEST(W3cLog, LinesAssembledFromAnyPieces) {
  const std::string text = std::string(kHeader) + Line("203.0.113.50", "a", "PASS", "530") +
                           Line("203.0.113.51", "b", "PASS", "530") + "2026-12-08 01:02:03 203.0.113.52";
  std::mt19937 random(7);
  for (int round = 0; round < 50; ++round) {
    CW3cReader reader;
    CLineAssembler lines;
    std::vector<std::string> seen;
    for (size_t at = 0; at < text.size();) {
      const size_t n = std::min<size_t>(1 + random() % 40, text.size() - at);
      lines.Feed(text.data() + at, n, [&](const char* line, size_t length) {
        CLogonEvent event = reader.ReadLine(line, length);
        if (event.eOutcome != ELogonOutcome::kNone) seen.push_back(event.strAddress);
      });
      at += n;
    }
    ASSERT_EQ(seen, (std::vector<std::string>{"203.0.113.50", "203.0.113.51"}));
    EXPECT_EQ(lines.HeldBytes(), 32u);  // the partial last line waits
  }
  // A line past the bound is dropped whole, and the next one is read.
  CLineAssembler lines;
  int count = 0;
  const std::string big(CLineAssembler::kMaxLineBytes + 10, 'x');
  for (size_t at = 0; at < big.size(); at += 1000) lines.Feed(big.data() + at, std::min<size_t>(1000, big.size() - at), [&](const char*, size_t) { ++count; });
  lines.Feed("\nok\n", 4, [&](const char* line, size_t length) {
    ++count;
    EXPECT_EQ(std::string(line, length), "ok");
  });
  EXPECT_EQ(count, 1);
}

}  // namespace
