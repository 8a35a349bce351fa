// Logon records as the sources hand them over: event XML of the Security and Application logs,
// the addresses in them, and hostile or broken records.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "logonguard/event_xml.h"
#include "logonguard/logon_address.h"

namespace {

// Rendered as EvtRender gives it (single quotes, default namespace), fields trimmed to the ones
// the records carry around the ones read.
std::string SecurityEvent(int id, const std::string& ip, const std::string& user, const std::string& type,
                          const std::string& provider = "Microsoft-Windows-Security-Auditing") {
  return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider Name='" + provider +
         "' Guid='{54849625-5478-4994-a5ba-3e3b0328c30d}'/><EventID>" + std::to_string(id) +
         "</EventID><Version>0</Version><Level>0</Level><Task>12544</Task>"
         "<TimeCreated SystemTime='2026-12-08T01:02:03.4567890Z'/><EventRecordID>912345</EventRecordID>"
         "<Correlation ActivityID='{1}'/><Execution ProcessID='640' ThreadID='1288'/><Channel>Security</Channel>"
         "<Computer>WIN-SRV</Computer><Security/></System><EventData><Data Name='SubjectUserSid'>S-1-0-0</Data>"
         "<Data Name='TargetUserName'>" + user + "</Data><Data Name='TargetDomainName'>WIN-SRV</Data>"
         "<Data Name='Status'>0xc000006d</Data><Data Name='LogonType'>" + type + "</Data>"
         "<Data Name='WorkstationName'>KALI</Data><Data Name='IpAddress'>" + ip +
         "</Data><Data Name='IpPort'>51234</Data></EventData></Event>";
}

std::string SqlEvent(const std::string& provider, const std::string& client, const std::string& login = "sa") {
  return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider Name='" + provider +
         "'/><EventID Qualifiers='49152'>18456</EventID><Level>0</Level><Task>4</Task>"
         "<TimeCreated SystemTime='2026-12-08T02:00:00.000Z'/><EventRecordID>77</EventRecordID>"
         "<Channel>Application</Channel><Computer>WIN-SRV</Computer><Security/></System><EventData><Data>" +
         login + "</Data><Data> Reason: Password did not match that for the login provided.</Data><Data> [CLIENT: " +
         client + "]</Data><Binary>184800000E000000</Binary></EventData></Event>";
}

TEST(LogonEventXml, SecurityFailuresAndSuccesses) {
  CLogonEvent rdp = ReadEventXml(SecurityEvent(4625, "203.0.113.50", "administrator", "10"));
  EXPECT_EQ(rdp.eOutcome, ELogonOutcome::kFailure);
  EXPECT_EQ(rdp.eSource, ELogonSource::kRemoteDesktop);
  EXPECT_EQ(rdp.strAddress, "203.0.113.50");
  EXPECT_EQ(rdp.strUser, "administrator");
  EXPECT_EQ(rdp.nLogonType, 10);
  EXPECT_EQ(rdp.nRecordId, 912345u);
  EXPECT_EQ(rdp.strTime, "2026-12-08T01:02:03.4567890Z");

  CLogonEvent smb = ReadEventXml(SecurityEvent(4625, "198.51.100.7", "guest", "3"));
  EXPECT_EQ(smb.eSource, ELogonSource::kWindowsNetwork);
  EXPECT_EQ(smb.nLogonType, 3);

  CLogonEvent success = ReadEventXml(SecurityEvent(4624, "203.0.113.50", "administrator", "10"));
  EXPECT_EQ(success.eOutcome, ELogonOutcome::kSuccess);

  // Double quotes, a namespace prefix, entities and character references.
  const std::string quoted =
      "<e:Event xmlns:e=\"x\"><e:System><e:Provider Name=\"Microsoft-Windows-Security-Auditing\"/>"
      "<e:EventID>4625</e:EventID></e:System><e:EventData><e:Data Name=\"TargetUserName\">a&amp;b&lt;c&#62;&#x41;&#233;"
      "</e:Data><e:Data Name=\"IpAddress\">203.0.113.9</e:Data></e:EventData></e:Event>";
  CLogonEvent q = ReadEventXml(quoted);
  EXPECT_EQ(q.eOutcome, ELogonOutcome::kFailure);
  EXPECT_EQ(q.strUser, "a&b<c>A?");
  EXPECT_EQ(q.strAddress, "203.0.113.9");
}

TEST(LogonEventXml, SqlServerFailures) {
  CLogonEvent named = ReadEventXml(SqlEvent("MSSQL$SQLEXPRESS", "198.51.100.23"));
  EXPECT_EQ(named.eOutcome, ELogonOutcome::kFailure);
  EXPECT_EQ(named.eSource, ELogonSource::kSqlServer);
  EXPECT_EQ(named.strAddress, "198.51.100.23");
  EXPECT_EQ(named.strUser, "sa");
  EXPECT_EQ(ReadEventXml(SqlEvent("MSSQLSERVER", "198.51.100.23")).eOutcome, ELogonOutcome::kFailure);
  // Another program's 18456, a local client, no client at all.
  EXPECT_EQ(ReadEventXml(SqlEvent("MyApp", "198.51.100.23")).eOutcome, ELogonOutcome::kNone);
  EXPECT_EQ(ReadLogonAddress(ReadEventXml(SqlEvent("MSSQLSERVER", "<local machine>")).strAddress).eKind,
            EAddressKind::kIgnored);
  EXPECT_EQ(FindSqlClient("Reason: x [CLIENT: 10.1.2.3 ]"), "10.1.2.3");
  EXPECT_EQ(FindSqlClient("[CLIENT: 10.1.2.3"), "");
  EXPECT_EQ(FindSqlClient("no client"), "");
}

TEST(LogonEventXml, RefusesForeignMalformedAndOversized) {
  // The Security provider only, the two event ids only.
  EXPECT_EQ(ReadEventXml(SecurityEvent(4625, "203.0.113.50", "a", "10", "Fake-Source")).eOutcome, ELogonOutcome::kNone);
  EXPECT_EQ(ReadEventXml(SecurityEvent(4634, "203.0.113.50", "a", "10")).eOutcome, ELogonOutcome::kNone);
  // Cut anywhere before the address closes: no event, never a half-read one.
  const std::string full = SecurityEvent(4625, "203.0.113.50", "a", "10");
  const size_t ipEnd = full.find("203.0.113.50") + 12;
  for (size_t cut = 0; cut < ipEnd; cut += 7) EXPECT_EQ(ReadEventXml(full.substr(0, cut)).eOutcome, ELogonOutcome::kNone);
  // A very long address is no address; a very long user name is cut to the bound.
  const std::string longIp(100000, '1');
  EXPECT_EQ(ReadLogonAddress(ReadEventXml(SecurityEvent(4625, longIp, "a", "3")).strAddress).eKind, EAddressKind::kIgnored);
  CLogonEvent longUser = ReadEventXml(SecurityEvent(4625, "203.0.113.50", std::string(100000, 'u'), "3"));
  EXPECT_EQ(longUser.strUser.size(), kMaxUserBytes);
  // Control characters never reach a row; a logon type that is not a small number is 0.
  CLogonEvent control = ReadEventXml(SecurityEvent(4625, "203.0.113.50", "a&#10;b\tc", "99999999999999999999"));
  EXPECT_EQ(control.strUser, "a?b?c");
  EXPECT_EQ(control.nLogonType, 0);
  EXPECT_EQ(control.eSource, ELogonSource::kWindowsNetwork);
  // Two IpAddress fields: the first one counts.
  std::string twice = full;
  twice.insert(twice.find("</EventData>"), "<Data Name='IpAddress'>198.51.100.1</Data>");
  EXPECT_EQ(ReadEventXml(twice).strAddress, "203.0.113.50");
}

TEST(LogonEventXml, SeededGarbageStaysBounded) {
  std::mt19937 random(31);
  const std::string base = SecurityEvent(4625, "203.0.113.50", "admin", "10");
  const std::string alphabet = "<>/='\"&;#x :-[]!?CDATA\x01\xff";
  for (int round = 0; round < 2000; ++round) {
    std::string text = base;
    const int edits = 1 + static_cast<int>(random() % 12);
    for (int e = 0; e < edits; ++e) {
      const size_t at = random() % text.size();
      switch (random() % 3) {
        case 0: text[at] = alphabet[random() % alphabet.size()]; break;
        case 1: text.erase(at, random() % 20); break;
        default: text.insert(at, std::string(random() % 300, alphabet[random() % alphabet.size()]));
      }
      if (text.empty()) text = "<";
    }
    const CLogonEvent event = ReadEventXml(text);
    EXPECT_LE(event.strUser.size(), kMaxUserBytes);
    EXPECT_LE(event.strAddress.size(), kMaxAddressBytes);
    EXPECT_LE(event.strTime.size(), kMaxTimeBytes);
    const CLogonAddress address = ReadLogonAddress(event.strAddress);
    if (address.eKind == EAddressKind::kIpv4) {
      EXPECT_EQ(address.strText.find_first_not_of("0123456789."), std::string::npos);
    }
  }
}

TEST(LogonAddress, WhatCountsAndWhatIsIgnored) {
  const struct {
    const char* text;
    EAddressKind kind;
    const char* canonical;
  } cases[] = {
      {"203.0.113.50", EAddressKind::kIpv4, "203.0.113.50"},
      {" 203.0.113.50 ", EAddressKind::kIpv4, "203.0.113.50"},
      {"-", EAddressKind::kIgnored, ""},
      {"", EAddressKind::kIgnored, ""},
      {"::1", EAddressKind::kIgnored, ""},
      {"::", EAddressKind::kIgnored, ""},
      {"0.0.0.0", EAddressKind::kIgnored, ""},
      {"127.0.0.1", EAddressKind::kIgnored, ""},
      {"255.255.255.255", EAddressKind::kIgnored, ""},
      {"::ffff:203.0.113.50", EAddressKind::kIpv4, "203.0.113.50"},
      {"::FFFF:cb00:7132", EAddressKind::kIpv4, "203.0.113.50"},
      {"::ffff:127.0.0.1", EAddressKind::kIgnored, ""},
      {"2001:DB8:0:0:0:0:0:1", EAddressKind::kIpv6, "2001:db8::1"},
      {"2001:db8::1%12", EAddressKind::kIpv6, "2001:db8::1"},
      {"[2001:db8::1]", EAddressKind::kIpv6, "2001:db8::1"},
      {"fe80::1:0:0:2", EAddressKind::kIpv6, "fe80::1:0:0:2"},
      {"010.1.1.1", EAddressKind::kIgnored, ""},
      {"1.2.3", EAddressKind::kIgnored, ""},
      {"1.2.3.4.5", EAddressKind::kIgnored, ""},
      {"256.1.1.1", EAddressKind::kIgnored, ""},
      {"1.2.3.4x", EAddressKind::kIgnored, ""},
      {"2001:db8:::1", EAddressKind::kIgnored, ""},
      {"1:2:3:4:5:6:7:8:9", EAddressKind::kIgnored, ""},
      {"2001:db8::1::2", EAddressKind::kIgnored, ""},
      {"12345::1", EAddressKind::kIgnored, ""},
      {"<local machine>", EAddressKind::kIgnored, ""},
  };
  for (const auto& c : cases) {
    const CLogonAddress address = ReadLogonAddress(c.text);
    EXPECT_EQ(address.eKind, c.kind) << c.text;
    EXPECT_EQ(address.strText, c.canonical) << c.text;
  }
}

}  // namespace
