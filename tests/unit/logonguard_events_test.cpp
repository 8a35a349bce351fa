// Logon records as the sources hand them over: event XML of the Security and Application logs,
// the addresses in them, and hostile or broken records.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "logonguard/event_xml.h"
#include "logonguard/logon_address.h"

#include "gbk_converter_fake.h"

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

std::string SqlEvent(const std::string& provider, const std::string& client, const std::string& login = "sa",
                     const std::string& reason = " Reason: Password did not match that for the login provided.") {
  return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider Name='" + provider +
         "'/><EventID Qualifiers='49152'>18456</EventID><Level>0</Level><Task>4</Task>"
         "<TimeCreated SystemTime='2026-12-08T02:00:00.000Z'/><EventRecordID>77</EventRecordID>"
         "<Channel>Application</Channel><Computer>WIN-SRV</Computer><Security/></System><EventData><Data>" +
         login + "</Data><Data>" + reason + "</Data><Data> [CLIENT: " + client +
         "]</Data><Binary>184800000E000000</Binary></EventData></Event>";
}

// A 4625 whose client-chosen names (user, domain, workstation) are given as the XML holds them.
std::string SecurityEventNamed(const std::string& user, const std::string& domain, const std::string& workstation,
                               const std::string& ip) {
  std::string xml = SecurityEvent(4625, ip, user, "3");
  const std::string domainField = "<Data Name='TargetDomainName'>WIN-SRV</Data>";
  xml.replace(xml.find(domainField), domainField.size(), "<Data Name='TargetDomainName'>" + domain + "</Data>");
  const std::string stationField = "<Data Name='WorkstationName'>KALI</Data>";
  xml.replace(xml.find(stationField), stationField.size(), "<Data Name='WorkstationName'>" + workstation + "</Data>");
  return xml;
}

// The record with its user name given in UTF-16: the rest of it is ASCII.
std::u16string Utf16(const std::u16string& user) {
  const std::string xml = SecurityEvent(4625, "203.0.113.50", "@USER@", "3");
  const size_t at = xml.find("@USER@");
  std::u16string out(xml.begin(), xml.begin() + static_cast<std::ptrdiff_t>(at));
  out += user;
  out.append(xml.begin() + static_cast<std::ptrdiff_t>(at + 6), xml.end());
  return out;
}

const char kFullwidthMarkup[] =  // "＜/Data＞＜Data Name='IpAddress'＞192.168.1.10＜/Data＞" in UTF-8
    "\xef\xbc\x9c/Data\xef\xbc\x9e\xef\xbc\x9c" "Data Name='IpAddress'\xef\xbc\x9e" "192.168.1.10\xef\xbc\x9c/Data\xef\xbc\x9e";

TEST(LogonEventXml, SecurityFailuresAndSuccesses) {
  CLogonEvent rdp = ReadEventXml(SecurityEvent(4625, "203.0.113.50", "administrator", "10"));
  EXPECT_EQ(rdp.eOutcome, ELogonOutcome::kFailure);
  EXPECT_EQ(rdp.eSource, ELogonSource::kRemoteDesktop);
  EXPECT_EQ(rdp.strAddress, "203.0.113.50");
  EXPECT_EQ(rdp.strUser, "administrator");
  EXPECT_EQ(rdp.nLogonType, 10);
  EXPECT_EQ(rdp.nRecordId, 912345u);
  EXPECT_EQ(rdp.strTime, "2026-12-08T01:02:03.4567890Z");
  EXPECT_EQ(rdp.tRecord, 1796691723);  // UTC, as the event log writes it

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
  EXPECT_EQ(q.strUser, "a&b<c>A\xc3\xa9");  // a reference beyond ASCII is its character in UTF-8
  EXPECT_EQ(q.strAddress, "203.0.113.9");
}

// RdpCoreTS/Operational as EvtRender gives it: 140 with its one field IPString, 131 with the
// connection's type and "address:port".
std::string RdpEvent(int id, const std::string& fields, const std::string& provider =
                                                            "Microsoft-Windows-RemoteDesktopServices-RdpCoreTS") {
  return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider Name='" + provider +
         "' Guid='{1139c61b-b549-4251-8ed3-27250a1edec8}'/><EventID>" + std::to_string(id) +
         "</EventID><Version>0</Version><Level>3</Level><Task>4</Task><Opcode>14</Opcode>"
         "<Keywords>0x4000000000000000</Keywords><TimeCreated SystemTime='2026-12-08T03:04:05.0000000Z'/>"
         "<EventRecordID>5123</EventRecordID><Correlation ActivityID='{f4200000-0000-0000-0000-000000000000}'/>"
         "<Execution ProcessID='1044' ThreadID='2212'/><Channel>Microsoft-Windows-RemoteDesktopServices-RdpCoreTS/"
         "Operational</Channel><Computer>WIN-SRV</Computer><Security UserID='S-1-5-20'/></System><EventData>" +
         fields + "</EventData></Event>";
}

// Behind network level authentication the Security log's failure has no address; the remote
// desktop log's 140 has it, in the field the server writes. 131 (a connection accepted) is no
// failure, whatever address it carries.
TEST(LogonEventXml, RemoteDesktopFailuresFromTheIpStringFieldOnly) {
  const CLogonEvent nla = ReadEventXml(RdpEvent(140, "<Data Name='IPString'>203.0.113.77</Data>"));
  EXPECT_EQ(nla.eOutcome, ELogonOutcome::kFailure);
  EXPECT_EQ(nla.eSource, ELogonSource::kRemoteDesktop);
  EXPECT_EQ(nla.eChannel, EEventChannel::kRemoteDesktop);
  EXPECT_EQ(nla.strAddress, "203.0.113.77");
  EXPECT_EQ(nla.nRecordId, 5123u);
  EXPECT_EQ(nla.tRecord, 1796699045);
  EXPECT_FALSE(nla.bNoAddress);
  EXPECT_EQ(ReadEventXml(RdpEvent(140, "<Data Name='IPString'>2001:db8::7</Data>")).strAddress, "2001:db8::7");

  const std::string refused[] = {
      RdpEvent(131, "<Data Name='ConnType'>TCP</Data><Data Name='ClientIP'>203.0.113.77:50123</Data>"),
      RdpEvent(140, "<Data Name='IPString'>203.0.113.77</Data>", "Fake-RdpCoreTS"),
      RdpEvent(140, "<Data Name='ClientIP'>203.0.113.77</Data>"),
      RdpEvent(140, "<Data>203.0.113.77</Data>"),
      RdpEvent(140, "<Data Name='IPString'></Data>"),
      RdpEvent(140, "<Data Name='IPString'>203.0.113.77</Data><Data Name='IPString'>192.168.1.10</Data>"),
      RdpEvent(140, "<Data Name='IPString'>" + std::string(100 * 1024, '1') + "</Data>"),
      RdpEvent(140, "<Data Name='IPString'>203.0.113.77</Data>").substr(0, 600),
  };
  for (const std::string& xml : refused) {
    const CLogonEvent event = ReadEventXml(xml);
    if (event.eOutcome == ELogonOutcome::kNone) continue;
    EXPECT_EQ(ReadLogonAddress(event.strAddress).eKind, EAddressKind::kIgnored) << xml.substr(xml.size() - 120);
  }
  EXPECT_EQ(ReadEventXml(refused[0]).eOutcome, ELogonOutcome::kNone);
  EXPECT_EQ(ReadEventXml(refused[5]).eOutcome, ELogonOutcome::kNone);
}

// A 4625 without an address is a failure all the same (marked, so the window counts it); of the
// successes only those whose logon type clears a count are read, and the Security log's query
// asks for exactly those.
TEST(LogonEventXml, NoAddressFailuresAreMarkedAndOnlyClearingSuccessesAreRead) {
  const CLogonEvent nla = ReadEventXml(SecurityEvent(4625, "-", "administrator", "3"));
  EXPECT_EQ(nla.eOutcome, ELogonOutcome::kFailure);
  EXPECT_TRUE(nla.bNoAddress);
  EXPECT_EQ(nla.eChannel, EEventChannel::kSecurity);
  EXPECT_TRUE(ReadEventXml(SecurityEvent(4625, "", "administrator", "3")).bNoAddress);
  EXPECT_FALSE(ReadEventXml(SecurityEvent(4625, "203.0.113.50", "administrator", "3")).bNoAddress);
  EXPECT_FALSE(ReadEventXml(SecurityEvent(4625, "127.0.0.1", "administrator", "2")).bNoAddress);
  EXPECT_FALSE(ReadEventXml(SecurityEvent(4624, "-", "administrator", "3")).bNoAddress);

  const std::string query = EventLogQuery(EEventChannel::kSecurity);
  for (int type = 0; type <= 13; ++type) {
    const bool clears = type == 2 || type == 3 || type == 7 || type == 8 || type == 10 || type == 11;
    const CLogonEvent success = ReadEventXml(SecurityEvent(4624, "203.0.113.50", "admin", std::to_string(type)));
    EXPECT_EQ(success.eOutcome, clears ? ELogonOutcome::kSuccess : ELogonOutcome::kNone) << type;
    EXPECT_EQ(IsClearingLogonType(type), clears) << type;
    const std::string term = "Data[@Name='LogonType']=" + std::to_string(type) + (type == 11 ? ")" : " ");
    EXPECT_EQ(query.find(term) != std::string::npos, clears) << type << " " << query;
    // Every failure counts, whatever its logon type.
    EXPECT_EQ(ReadEventXml(SecurityEvent(4625, "203.0.113.50", "admin", std::to_string(type))).eOutcome,
              ELogonOutcome::kFailure);
  }
}

// The subscriptions' queries, as EvtSubscribe gets them: within the event log's XPath subset
// (child and attribute steps, and/or, = and !=) and its 20 expressions for one query.
TEST(LogonEventXml, SubscriptionQueries) {
  EXPECT_EQ(EventLogQuery(EEventChannel::kSecurity),
            "*[System[EventID=4625] or (System[EventID=4624] and EventData[(Data[@Name='LogonType']=2 or "
            "Data[@Name='LogonType']=3 or Data[@Name='LogonType']=7 or Data[@Name='LogonType']=8 or "
            "Data[@Name='LogonType']=10 or Data[@Name='LogonType']=11) and Data[@Name='IpAddress']!='-' and "
            "Data[@Name='TargetUserName']!='ANONYMOUS LOGON'])]");
  EXPECT_EQ(EventLogQuery(EEventChannel::kApplication), "*[System[EventID=18456]]");
  EXPECT_EQ(EventLogQuery(EEventChannel::kRemoteDesktop), "*[System[EventID=140]]");
  EXPECT_EQ(std::string(EventLogChannelPath(EEventChannel::kRemoteDesktop)),
            "Microsoft-Windows-RemoteDesktopServices-RdpCoreTS/Operational");
  EXPECT_EQ(std::string(EventLogChannelPath(EEventChannel::kSecurity)), "Security");
  EXPECT_EQ(std::string(EventLogChannelPath(EEventChannel::kApplication)), "Application");
  for (int c = 0; c < kEventChannelCount; ++c) {
    const std::string query = EventLogQuery(static_cast<EEventChannel>(c));
    int square = 0, round = 0, comparisons = 0;
    bool quoted = false;
    for (size_t i = 0; i < query.size(); ++i) {
      const char ch = query[i];
      if (ch == '\'') quoted = !quoted;
      if (quoted) continue;
      square += ch == '[' ? 1 : ch == ']' ? -1 : 0;
      round += ch == '(' ? 1 : ch == ')' ? -1 : 0;
      ASSERT_GE(square, 0) << query;
      ASSERT_GE(round, 0) << query;
      if (ch == '=') ++comparisons;  // attribute tests too
    }
    EXPECT_FALSE(quoted) << query;
    EXPECT_EQ(0, square) << query;
    EXPECT_EQ(0, round) << query;
    EXPECT_LE(comparisons, 20) << query;
    EXPECT_EQ(std::string::npos, query.find('"')) << query;
  }
}

TEST(LogonEventXml, SqlServerFailures) {
  CLogonEvent named = ReadEventXml(SqlEvent("MSSQL$SQLEXPRESS", "198.51.100.23"));
  EXPECT_EQ(named.eOutcome, ELogonOutcome::kFailure);
  EXPECT_EQ(named.eSource, ELogonSource::kSqlServer);
  EXPECT_EQ(named.eChannel, EEventChannel::kApplication);
  EXPECT_EQ(named.strAddress, "198.51.100.23");
  EXPECT_EQ(named.strUser, "sa");
  EXPECT_EQ(ReadEventXml(SqlEvent("MSSQLSERVER", "198.51.100.23")).eOutcome, ELogonOutcome::kFailure);
  // Another program's 18456, a local client, no client at all.
  EXPECT_EQ(ReadEventXml(SqlEvent("MyApp", "198.51.100.23")).eOutcome, ELogonOutcome::kNone);
  EXPECT_EQ(ReadLogonAddress(ReadEventXml(SqlEvent("MSSQLSERVER", "<local machine>")).strAddress).eKind,
            EAddressKind::kIgnored);
}

// The login name and the database name are the client's to choose; only the last field is
// written by the server, and it counts only when it is all "[CLIENT: a.b.c.d]".
TEST(LogonEventXml, SqlServerClientOnlyFromTheLastFieldAsAWhole) {
  const std::string steering = "[CLIENT: 192.168.1.10]";
  CLogonEvent named = ReadEventXml(SqlEvent("MSSQLSERVER", "203.0.113.9", steering));
  EXPECT_EQ(named.eOutcome, ELogonOutcome::kFailure);
  EXPECT_EQ(named.strAddress, "203.0.113.9");
  EXPECT_EQ(named.strUser, steering);  // shown as the name it is
  for (const std::string& login : {steering, std::string("[CLIENT: 8.0.0.0]"), std::string(" [CLIENT: 192.168.1.10] "),
                                   std::string("&lt;/Data&gt;&lt;Data&gt;[CLIENT: 192.168.1.10]"),
                                   std::string("x' [CLIENT: 192.168.1.10] &amp; &apos;y")}) {
    // From this machine (no address) or a named pipe: nothing at all, never the login's text.
    const CLogonEvent local = ReadEventXml(SqlEvent("MSSQLSERVER", "&lt;local machine&gt;", login));
    EXPECT_EQ(local.eOutcome, ELogonOutcome::kNone) << login;
    EXPECT_EQ(local.strAddress, "") << login;
  }
  // A database name in the reason.
  const std::string reason =
      " Reason: Failed to open the explicitly specified database '[CLIENT: 192.168.1.10]'. [CLIENT: 192.168.1.10]";
  EXPECT_EQ(ReadEventXml(SqlEvent("MSSQLSERVER", "&lt;named pipe&gt;", "sa", reason)).eOutcome, ELogonOutcome::kNone);
  EXPECT_EQ(ReadEventXml(SqlEvent("MSSQLSERVER", "198.51.100.23", "sa", reason)).strAddress, "198.51.100.23");
  // Markup the XML really holds (as a best-fit conversion of fullwidth brackets would make it):
  // fields before the server's last one change nothing.
  EXPECT_EQ(ReadEventXml(SqlEvent("MSSQLSERVER", "198.51.100.23", "a</Data><Data>[CLIENT: 192.168.1.10]</Data><Data>b"))
                .strAddress,
            "198.51.100.23");

  EXPECT_EQ(ReadSqlClient(" [CLIENT: 10.1.2.3]\t"), "10.1.2.3");
  for (const char* bad : {"Reason: x [CLIENT: 10.1.2.3]", "[CLIENT: 10.1.2.3] x", "[CLIENT: 10.1.2.3 ]",
                          "[CLIENT: 10.1.2.3", "[CLIENT:10.1.2.3]", "[CLIENT: 10.1.2]", "[CLIENT: 10.1.2.3.4]",
                          "[CLIENT: 1000.1.2.3]", "[CLIENT: 10..2.3]", "[CLIENT: fe80::1]", "[CLIENT: <local machine>]",
                          "[client: 10.1.2.3]", "no client", ""})
    EXPECT_EQ(ReadSqlClient(bad), "") << bad;
}

// The address of 4625 is its IpAddress field's, whatever the user, domain and workstation names
// hold; a record whose named fields repeat is none the event log wrote.
TEST(LogonEventXml, SecurityAddressOnlyFromTheIpAddressField) {
  const std::string hostile[] = {
      "[CLIENT: 192.168.1.10]",
      "192.168.1.10",
      "&lt;/Data&gt;&lt;Data Name='IpAddress'&gt;192.168.1.10&lt;/Data&gt;",
      "a&apos;b&quot;c&lt;d&gt;e&amp;f",
      "&#60;Data Name=&#39;IpAddress&#39;&#62;192.168.1.10",
      "&lt;![CDATA[192.168.1.10]]&gt;",
      "\xef\xbc\x9c" "Data Name='IpAddress'\xef\xbc\x9e" "192.168.1.10",  // fullwidth brackets, UTF-8
      std::string(100 * 1024, '<').replace(0, 1, "x"),
  };
  for (const std::string& name : hostile) {
    for (int field = 0; field < 3; ++field) {
      const std::string xml = SecurityEventNamed(field == 0 ? name : "admin", field == 1 ? name : "WIN-SRV",
                                                 field == 2 ? name : "KALI", "203.0.113.50");
      const CLogonEvent event = ReadEventXml(xml);
      if (event.eOutcome == ELogonOutcome::kNone) continue;  // a broken record gives nothing
      EXPECT_EQ(event.strAddress, "203.0.113.50") << field << " " << name.substr(0, 80);
      const CLogonEvent none = ReadEventXml(SecurityEventNamed(field == 0 ? name : "admin", field == 1 ? name : "WIN-SRV",
                                                               field == 2 ? name : "KALI", "-"));
      EXPECT_EQ(ReadLogonAddress(none.strAddress).eKind, EAddressKind::kIgnored) << field << " " << name.substr(0, 80);
    }
  }
  // What a best-fit conversion of fullwidth brackets would have made of a user name: a second
  // IpAddress field ahead of the real one. The record is refused, never read for the first.
  const std::string forged = SecurityEvent(4625, "203.0.113.50",
                                           "x</Data><Data Name='IpAddress'>192.168.1.10</Data><Data Name='Junk'>", "3");
  EXPECT_EQ(ReadEventXml(forged).eOutcome, ELogonOutcome::kNone);
  EXPECT_EQ(ReadEventXml(forged).strAddress, "");
  const std::string station =
      SecurityEventNamed("admin", "WIN-SRV", "K</Data><Data Name='IpAddress'>192.168.1.10</Data><Data Name='J'>", "-");
  EXPECT_EQ(ReadEventXml(station).strAddress, "");
}

// EvtRender gives UTF-16: it is read as such, so a fullwidth '＜' in a name stays a character of
// the name (no best-fit conversion of the whole text to the ANSI code page before it is parsed);
// only the values taken out are converted for the window.
TEST(LogonEventXml, Utf16RecordsAreParsedBeforeAnyConversion) {
  const std::u16string fullwidth = u"\uFF1C/Data\uFF1E\uFF1CData Name='IpAddress'\uFF1E192.168.1.10";
  const std::u16string xml = Utf16(fullwidth);
  const CLogonEvent event = ReadEventXmlUtf16(xml.data(), xml.size(), Gbk);
  EXPECT_EQ(event.eOutcome, ELogonOutcome::kFailure);
  EXPECT_EQ(event.strAddress, "203.0.113.50");
  EXPECT_EQ(event.strUser, "＜/Data＞＜Data Name='IpAddress'＞192.168.1.10");  // GBK, as the window shows it
  EXPECT_EQ(event.strUser.find('<'), std::string::npos);

  const std::u16string chinese = Utf16(u"\u7BA1\u7406\u5458");  // 管理员
  EXPECT_EQ(ReadEventXmlUtf16(chinese.data(), chinese.size(), Gbk).strUser, "管理员");
  // A lone surrogate and a character GBK lacks never break the record.
  const std::u16string odd = Utf16(std::u16string(u"a") + char16_t(0xD800) + u"b\U0001F600");
  const CLogonEvent oddEvent = ReadEventXmlUtf16(odd.data(), odd.size(), Gbk);
  EXPECT_EQ(oddEvent.strAddress, "203.0.113.50");
  EXPECT_LE(oddEvent.strUser.size(), kMaxUserBytes);
  // The same record in UTF-8 without a converter keeps the name's UTF-8.
  EXPECT_EQ(ReadEventXml(SecurityEvent(4625, "203.0.113.50", kFullwidthMarkup, "3")).strAddress, "203.0.113.50");
  EXPECT_EQ(ReadEventXml(SecurityEvent(4625, "203.0.113.50", "\xe7\xae\xa1\xe7\x90\x86\xe5\x91\x98", "3"), Gbk).strUser,
            "管理员");
  // A long name is cut at a whole character, then converted.
  std::u16string many;
  for (int i = 0; i < 40; ++i) many += u"\u7BA1";
  const std::u16string longXml = Utf16(many);
  const std::string cut = ReadEventXmlUtf16(longXml.data(), longXml.size(), Gbk).strUser;
  EXPECT_EQ(cut.size(), 42u);  // 21 whole characters of three UTF-8 bytes fit in 64, two bytes each in GBK
  EXPECT_EQ(Gbk(Utf16ToUtf8(many.data(), 21)), cut);
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
  // Two IpAddress fields: no field is taken from a record the event log never writes.
  std::string twice = full;
  twice.insert(twice.find("</EventData>"), "<Data Name='IpAddress'>198.51.100.1</Data>");
  EXPECT_EQ(ReadEventXml(twice).eOutcome, ELogonOutcome::kNone);
  EXPECT_EQ(ReadEventXml(twice).strAddress, "");
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
