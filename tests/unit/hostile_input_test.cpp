// Hostile input for every parser of text or bytes from outside: configuration values and lists,
// service answers, the hand-over record, driver records, web file names and contents, logon
// records (event XML, W3C lines). Each
// group feeds deterministic random bytes (NUL, lone GBK lead bytes, 100 KB values, doubled or
// missing separators, numbers far out of range) and mutations of valid inputs, and checks that
// a value is read exactly as written or not at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "alerts/alert_conditions.h"
#include "alerts/service_answers.h"
#include "alerts/service_host.h"
#include "build_signer.h"
#include "upgrader/build_manifest.h"
#include "upgrader/build_signature.h"
#include "common/clock.h"
#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/ip_lists.h"
#include "config/profile_store.h"
#include "config/settings.h"
#include "driver/driver_records.h"
#include "ipblock/flood_blocking.h"
#include "logonguard/event_xml.h"
#include "logonguard/logon_address.h"
#include "logonguard/w3c_log.h"
#include "remote/md5.h"
#include "remote/remote_commands.h"
#include "resources/resource_watch.h"
#include "traffic/packet_list.h"
#include "update/upgrade_handover.h"
#include "update/version_check.h"
#include "webguard/bench/posix_web_files.h"
#include "webguard/script_text.h"
#include "webguard/watch_types.h"

namespace {

// Random texts over the bytes that break parsers, and mutations of valid texts.
struct CHostile {
  std::mt19937 random{20250611};
  size_t Below(size_t n) { return n ? random() % n : 0; }

  std::string Bytes(size_t maxLength, const std::string& favoured) {
    std::string s(Below(maxLength + 1), '\0');
    for (char& c : s) c = Below(3) ? favoured[Below(favoured.size())] : static_cast<char>(random());
    return s;
  }
  std::string Number() {
    static const char* const kOdd[] = {"-1",    "0",          "00",         "-0",          "+1",
                                       " 7",    "4294967297", "2147483648", "-2147483649", "99999999999999999999",
                                       "1e999", "inf",        "nan",        "0x10",        "65536",
                                       "-65535"};
    return Below(2) ? kOdd[Below(16)] : std::to_string(static_cast<int64_t>(random()) - (1ll << 31));
  }
  std::string Mutate(std::string s) {
    for (size_t n = 1 + Below(3); n > 0 && !s.empty(); --n) {
      const size_t at = Below(s.size());
      switch (Below(6)) {
        case 0:
          s.resize(at);
          break;  // cut
        case 1:
          s[at] = static_cast<char>(s[at] ^ (1 << Below(8)));
          break;  // flip a bit
        case 2:
          s.insert(at, 1, s[at]);
          break;  // doubled byte
        case 3:
          s.erase(at, 1);
          break;  // missing byte
        case 4:
          s.insert(at, Below(2) ? "\xB0" : std::string(1, '\0'));
          break;
        default:
          s.insert(at, Number());
          break;
      }
    }
    return s;
  }
  std::string Dotted() {
    std::string s;
    for (int i = 0; i < 4; ++i) s += (i ? "." : "") + std::to_string(Below(4) ? Below(256) : 0);
    return s;
  }
};

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

std::vector<std::string> Split(const std::string& s, char c) {
  std::vector<std::string> parts;
  SplitString(s, c, parts);
  return parts;
}

// A plain decimal text within int, as a person reads it; false otherwise.
bool PlainInt(const std::string& text, int64_t* value) {
  const size_t digits = text[0] == '-' ? 1 : 0;
  if (text.size() <= digits || text.size() - digits > 10 ||
      text.find_first_not_of("0123456789", digits) != std::string::npos)
    return false;
  *value = std::stoll(text);
  return *value >= INT32_MIN && *value <= INT32_MAX;
}

TEST(HostileInput, CrtTextNumbersClampOrRefuse) {
  CHostile h;
  for (int i = 0; i < 4000; ++i) {
    const std::string text = i % 2 ? h.Mutate(h.Number()) : h.Bytes(24, " \t+-0123456789");
    const char* p = text.c_str();  // what the C functions see: up to the first NUL
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    long double magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) magnitude = magnitude * 10 + (*p - '0');
    const long double expected =
        std::max<long double>(INT32_MIN, std::min<long double>(INT32_MAX, negative ? -magnitude : magnitude));
    ASSERT_EQ(static_cast<int32_t>(expected), CAtoi(text.c_str())) << text;
    ASSERT_EQ(Htons(static_cast<uint16_t>(static_cast<uint32_t>(CAtoi(text.c_str())))), PortFromText(text));
    int value = -1;
    const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    ASSERT_EQ(digits, ParseDigits(text, &value)) << text;
    if (digits) {
      ASSERT_EQ(std::min<long double>(INT_MAX, std::stold(text)), value) << text;
    }
    const int ini = IniInt(text, -77);
    ASSERT_TRUE(ini == -77 || (ini == CAtoi(text.c_str()) && (ini != 0 || text == "0"))) << text;
  }
}

TEST(HostileInput, AddressTextsReadAsWrittenOrNotAtAll) {
  CHostile h;
  for (int i = 0; i < 4000; ++i) {
    const std::string text = i % 3 ? h.Mutate(h.Dotted()) : h.Bytes(20, "0123456789.xX ");
    const uint32_t ip = InetAddr(text);
    std::string head = text.substr(0, text.find('\0'));
    if (ip != kInaddrNone && !head.empty() && head[0] != ' ') {
      head = head.substr(0, head.find_first_of(" \t\r\n\v\f"));
      ASSERT_EQ(std::string::npos, head.find_first_not_of("0123456789abcdefABCDEFxX.")) << text;
      // A plain dotted quad means exactly its own address.
      const std::vector<std::string> parts = Split(head, '.');
      bool plain = parts.size() == 4 && head.back() != '.';
      for (const std::string& part : parts)
        plain = plain && !part.empty() && part.size() <= 3 && (part == "0" || part[0] != '0') &&
                part.find_first_not_of("0123456789") == std::string::npos;
      if (plain) {
        ASSERT_EQ(head, InetNtoa(ip)) << text;
      }
    }
  }
}

// Every loaded entry says what its item says, a cut list only loses items, and loading what
// was written gives the same list again.
TEST(HostileInput, ListItemsLoadAsWrittenOrAreSkipped) {
  CHostile h;
  CManualClock clock;
  for (int i = 0; i < 3000; ++i) {
    std::string list;
    std::vector<std::pair<uint32_t, uint32_t>> originals;
    for (size_t n = 1 + h.Below(4); n > 0; --n) {
      const std::string ip = h.Dotted(), port = std::to_string(h.Below(3) ? h.Below(65536) : 0);
      originals.push_back({InetAddr(ip), PortFromText(port)});
      list += (list.empty() ? "" : ",") + ip + "|" + port + "|" + (h.Below(2) ? "1小时" : "永远") +
              (h.Below(2) ? "|0" : "");
    }
    const bool cut = i % 4 == 0;
    std::string text = cut ? list.substr(0, h.Below(list.size() + 1)) : h.Mutate(list);
    if (i % 97 == 0) text += "," + std::string(100000, '1') + "|80|x";
    CIpFilterList filters;
    DecodeIpFilterList(text, clock, filters);
    std::vector<std::vector<std::string>> items;
    for (const std::string& item : Split(text, ',')) {
      std::vector<std::string> fields = Split(item, '|');
      if (fields.size() >= 3) items.push_back(fields);
    }
    for (const auto& f : filters) {
      ASSERT_FALSE(f->dwIp == 0 && f->dwPort == 0) << text;
      const std::string ip = InetNtoa(f->dwIp), port = std::to_string(Ntohs(static_cast<uint16_t>(f->dwPort)));
      bool written = false;
      for (const auto& fields : items)
        written = written ||
                  (Trim(fields[0]) == ip && CAtoi(Trim(fields[1]).c_str()) == Ntohs(static_cast<uint16_t>(f->dwPort)) &&
                   Trim(fields[1]).size() <= 5);
      ASSERT_TRUE(written) << ip << "|" << port << " from " << text;
      if (cut) {
        ASSERT_NE(originals.end(), std::find(originals.begin(), originals.end(), std::make_pair(f->dwIp, f->dwPort)));
      }
    }
    const std::string saved = EncodeIpFilterList(filters);
    CIpFilterList again;
    DecodeIpFilterList(saved, clock, again);
    ASSERT_EQ(saved, EncodeIpFilterList(again)) << text;

    CIpOuterList exceptions;
    const std::string outer = i % 2 ? text : h.Mutate("10.0.0.0, 192.168.1.2,,1.2.3.4");
    DecodeIpOuterList(outer, exceptions);
    std::vector<std::string> outerItems;
    for (const std::string& item : Split(outer, ',')) outerItems.push_back(Trim(item));
    for (const auto& e : exceptions)
      ASSERT_NE(outerItems.end(), std::find(outerItems.begin(), outerItems.end(), InetNtoa(e->dwIp))) << outer;
    ASSERT_EQ(exceptions.size(), Split(EncodeIpOuterList(exceptions), ',').size());
  }
}

// A damaged or hand-edited file never turns the flood rule on against every host, and numbers
// come back as written or as their defaults.
TEST(HostileInput, ConfigurationValues) {
  CHostile h;
  CManualClock clock;
  const std::pair<const char*, const char*> keys[] = {
      {ini::kSysice, "sysiceipcount"}, {ini::kSysice, "sysiceipmb"}, {ini::kWatch, "watchfilelogcount"},
      {ini::kLog, "logday"},           {ini::kSysice, "onlinetime"}, {ini::kWatch, "watchfileext"},
      {ini::kMsg, "wormchk"},          {ini::kSysice, "sysicetimer"}};
  for (int i = 0; i < 600; ++i) {
    CMemoryProfileStore store;
    std::vector<std::string> values;
    for (const auto& key : keys) {
      values.push_back(i % 50 == 0  ? std::string(100000, '9')
                       : h.Below(2) ? h.Mutate(h.Number())
                                    : h.Bytes(40, ",1-0"));
      store.Put(kConfigFile, key.first, key.second, values.back());
    }
    CSettings s;
    CIpFilterList filters;
    CIpOuterList exceptions;
    LoadConfiguration(store, clock, s, filters, exceptions);
    const int ints[] = {s.sysiceipcount, s.sysiceipmb, s.watchfilelogcount, s.logday,
                        static_cast<int>(s.llProtectSeconds)};
    const int defaults[] = {0, 0, 28, 90, 0};
    for (int k = 0; k < 5; ++k)
      ASSERT_EQ(IniInt(values[static_cast<size_t>(k)], defaults[k]), ints[k]) << values[static_cast<size_t>(k)];
    ASSERT_EQ(values[6] == "1", s.wormchk);
    int blocks = 0;
    CheckIpLimits(1, 1, "10.0.0.1", "0", s.sysicetimer, s,
                  [&](const std::string&, const std::string&, const std::string&, int) { ++blocks; });
    ASSERT_EQ(0, blocks) << "one packet and one MB blocked with limits " << values[0] << " / " << values[1];
  }
  // Values of any length are read whole.
  for (size_t length : {size_t{9999}, size_t{10000}, size_t{100000}}) {
    const std::string value(length, 'v');
    EXPECT_EQ(value, ReadWholeValue<char>([&](char* buffer, size_t size) {
                const size_t n = std::min(value.size(), size - 1);
                std::copy(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(n), buffer);
                buffer[n] = 0;
                return n;
              }));
  }
}

// Garbage from the service never reads as a figure, a clock difference, a version or a command.
TEST(HostileInput, ServiceAnswers) {
  CHostile h;
  for (int i = 0; i < 4000; ++i) {
    const std::string answer = i % 3 == 0   ? h.Mutate(h.Number())
                               : i % 3 == 1 ? h.Mutate("1700000000")
                                            : h.Bytes(30, "0123456789 -<>\r\n");
    const std::string trimmed = TrimAnswer(answer);
    int64_t value = 0;
    const bool plain = !trimmed.empty() && PlainInt(trimmed, &value);
    if (IsValidFigure(trimmed)) {
      ASSERT_TRUE(plain && value != -1 && (value != 0 || trimmed == "0")) << trimmed;
    }
    if (!ClockSkewMinutes(1700000000, trimmed).empty()) {
      ASSERT_TRUE(plain && value > 0) << trimmed;
    }
    if (plain && value > 0) {
      ASSERT_EQ(ClockSkewMinutes(1700000000, trimmed).empty(), std::llabs(1700000000 - value) < 180) << trimmed;
    }

    const CUpgradeDecision decision =
        DecideUpgrade(i % 2 ? answer : h.Number() + "," + answer, "http://h", "2.36", 32, 32);
    if (decision.bUpgrade) {
      const std::string v = TrimAnswer(decision.strLatest);
      ASSERT_TRUE(!v.empty() && (std::isdigit(static_cast<unsigned char>(v[0])) || v[0] == '+' || v[0] == '.')) << v;
    }
    const double version = VersionNumber(answer);
    ASSERT_TRUE(std::isfinite(version)) << answer;

    const CServiceHost host = ParseServiceHost(answer);
    const std::string port = trimmed.substr(std::min(trimmed.size(), trimmed.rfind(':') + 1));
    if (host.nPort != 80) {
      ASSERT_EQ(port, std::to_string(host.nPort)) << answer;
    }
  }
  // Texts the C library reads as numbers that are no version.
  for (const std::string& garbage :
       std::vector<std::string>{"inf", "Infinity", "nan", "1e999", "0x10", std::string(400, '9')})
    EXPECT_FALSE(DecideUpgrade(garbage + ",x", "http://h", "2.36", 32, 32).bUpgrade) << garbage;
}

TEST(HostileInput, RemoteCommandAnswers) {
  CHostile h;
  struct CLock : IStatusLock {
    bool TryLock() override { return true; }
    void Lock() override {}
    void Unlock() override {}
  } lock;
  const std::string digest = MD5Text("secret");
  std::vector<std::string> commands;
  int reboots = 0, releases = 0;
  CRemoteCommandPorts ports{&lock,
                            &commands,
                            &digest,
                            [] {},
                            [&] { ++reboots; },
                            [&] {
                              ++releases;
                              return true;
                            }};
  for (int i = 0; i < 3000; ++i) {
    const bool withPassword = i % 2;
    const std::string flag = h.Number();
    const std::string answer = flag + "," + h.Mutate("1") + "," + (withPassword ? " secret " : h.Mutate("secret"));
    SplitAnswer(TrimAnswer(answer), commands);
    const int rebootsBefore = reboots, releasesBefore = releases;
    const bool full = commands.size() >= 3;
    CheckRemoteCommands(ports);
    ASSERT_EQ(full, commands.empty());  // a request is taken whole, whatever it holds
    commands.clear();
    const std::vector<std::string> fields = Split(answer, ',');
    const bool password = fields.size() == 3 && MD5Text(TrimAnswer(fields[2])) == digest;
    if (!password) {
      ASSERT_EQ(rebootsBefore + releasesBefore, reboots + releases) << answer;
    }
    // Out-of-range flags never wrap around to 1.
    if (flag == "4294967297" || flag == "99999999999999999999") {
      ASSERT_EQ(rebootsBefore, reboots) << answer;
    }
  }
}

TEST(HostileInput, UpgradeRecordNumbers) {
  CHostile h;
  for (int i = 0; i < 2000; ++i) {
    CMemoryProfileStore store;
    const std::string bits = h.Below(2) ? h.Mutate("32") : h.Number(),
                      time = h.Below(2) ? h.Mutate("1700000000") : h.Number();
    store.Put("u.ini", "upgrade", "version", h.Mutate("2.40"));
    store.Put("u.ini", "upgrade", "bits", i % 50 == 0 ? "-9223372036854775808" : bits);
    store.Put("u.ini", "upgrade", "time",
              i % 7 == 0    ? "-9223372036854775808"
              : i % 11 == 0 ? "9223372036854775807"
                            : time);
    const CUpgradeRecord record = ReadUpgradeRecord(store, "u.ini");
    // A width is read as the C runtime reads it, never wrapped around from a larger number.
    ASSERT_EQ(CAtoi(store.Get("u.ini", "upgrade", "bits").c_str()), record.nBits) << bits;
    const bool recent = HandedOverRecently(record, "2.40", record.nBits, 1700000000);
    if (recent) {
      ASSERT_LT(std::llabs(record.tTime - 1700000000), 86400) << time;
    }
  }
}

// The updater's file list comes from the network: what it accepts is written the same way back.
TEST(HostileInput, UpdaterManifest) {
  CHostile h;
  const std::string digest(64, 'a');
  const std::string valid =
      "version 2.40\r\nfile tavrick.exe 1234567 " + digest + "\nfile setupdriver.dll 99 " + digest + "\n";
  for (int i = 0; i < 2000; ++i) {
    const std::string text = i % 100 == 0 ? valid + std::string(100000, 'f') : h.Mutate(valid);
    CBuildManifest manifest;
    std::string reason;
    if (!ParseManifest(text, manifest, reason)) {
      ASSERT_FALSE(reason.empty());
      continue;
    }
    std::string again = "version " + manifest.strVersion + "\n";
    for (const CBuildFile& file : manifest.files) {
      ASSERT_TRUE(IsReplaceableName(file.strName) && file.nSize <= kMaxFileBytes) << text;
      again += "file " + file.strName + " " + std::to_string(file.nSize) + " " + file.strSha256 + "\n";
    }
    CBuildManifest reread;
    ASSERT_TRUE(ParseManifest(again, reread, reason)) << text;
    ASSERT_EQ(manifest.files.size(), reread.files.size());
    for (size_t k = 0; k < manifest.files.size(); ++k) {
      ASSERT_EQ(manifest.files[k].nSize, reread.files[k].nSize) << text;
      ASSERT_EQ(manifest.files[k].strSha256, reread.files[k].strSha256) << text;
    }
  }
}

// A manifest and its signature file both come from the network: no mutation of either, nor a
// signature file of random bytes, is ever read as the vendor's list.
TEST(HostileInput, SignedManifest) {
  CHostile h;
  const std::string text = "version 2.40\r\nfile tavrick.exe 1234567 " + std::string(64, 'a') + "\r\n";
  const std::string signature = StandInSignatureFile(ManifestSignedText("x64", text));
  CBuildManifest manifest;
  std::string reason;
  ASSERT_TRUE(ReadSignedManifest(text, signature, "x64", manifest, reason));
  for (int i = 0; i < 150; ++i) {
    const std::string badText = h.Mutate(text), badSignature = i % 3 ? h.Mutate(signature) : h.Bytes(300, "0123456789abcdef");
    if (badText != text) {
      EXPECT_FALSE(ReadSignedManifest(badText, signature, "x64", manifest, reason)) << badText;
    }
    // A mutation that only moves blanks around the digits keeps the same signature.
    if (badSignature.find_first_not_of(" \t\r\n") != std::string::npos &&
        badSignature.substr(badSignature.find_first_not_of(" \t\r\n"), 128) == signature.substr(0, 128))
      continue;
    EXPECT_FALSE(ReadSignedManifest(text, badSignature, "x64", manifest, reason)) << badSignature;
  }
}

TEST(HostileInput, DriverRecordsAndTimeTexts) {
  CHostile h;
  for (int i = 0; i < 3000; ++i) {
    CPacketInfoWire wire;
    for (uint8_t& b : wire) b = static_cast<uint8_t>(h.Below(4) ? h.random() : 0);
    const _CPacketInfo packet = DecodePacketInfo(wire.data());
    for (int column : {1, 7}) {
      const std::string cell = PacketCellText(1, packet, column);
      ASSERT_LE(cell.size(), 31u);
      ASSERT_EQ(std::string::npos, cell.find('\0'));
    }
    CPacketInfoWire expected = wire;
    expected[31] = 0;
    expected[83] = 0;
    ASSERT_EQ(expected, EncodePacketInfo(packet));
    const _CPingRule rule = DecodePingRule(wire.data());
    ASSERT_EQ(std::string(rule.szProtocol), MakePingRule(rule.szProtocol, 0).szProtocol);

    // A time text is a real moment or -1: what it reads gives the same text back.
    char text[64];
    std::snprintf(text, sizeof text, "%d-%d-%d %d:%d:%d", 1970 + static_cast<int>(h.Below(60)),
                  1 + static_cast<int>(h.Below(12)), 1 + static_cast<int>(h.Below(28)), static_cast<int>(h.Below(24)),
                  static_cast<int>(h.Below(60)), static_cast<int>(h.Below(60)));
    const std::string mutated = i % 5 ? h.Mutate(text) : h.Number() + "-" + h.Number() + "-1 0:0:" + h.Number();
    const int64_t t = LocalTimeFromText(mutated.c_str());
    if (t == -1) continue;
    const time_t moment = static_cast<time_t>(t);
    std::tm local = {};
    localtime_r(&moment, &local);
    int y, mo, d, hh, mi, se;
    ASSERT_EQ(6, std::sscanf(mutated.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &hh, &mi, &se));
    ASSERT_TRUE(local.tm_year + 1900 == y && local.tm_mon + 1 == mo && local.tm_mday == d && local.tm_hour == hh &&
                local.tm_min == mi && local.tm_sec == se)
        << mutated << " read as " << t;
  }
}

// Names and contents from the web folder: a separator inside a double-byte character never
// counts, and the text of a file does not depend on how its reads were cut.
TEST(HostileInput, WebFolderNamesAndContents) {
  CHostile h;
  CPosixWebFiles files;
  const std::string typeNames[kWatchTypeCount] = {"asp", "php", "", "jsp", "aspx"};
  for (int i = 0; i < 3000; ++i) {
    std::string folder;  // whole characters only, trail bytes that look like separators among them
    for (size_t n = h.Below(8); n > 0; --n)
      folder += h.Below(2) ? std::string("\xB0") + "\\/.;"[h.Below(4)] : std::string(1, "a\\/.;"[h.Below(5)]);
    std::string name = h.Mutate(h.Below(2) ? "shell.asp;.jpg" : "\xD2\xBB\xBE\xE4\xBB\xB0.php");
    for (char& c : name)
      if (c == '\\' || c == '/') c = '_';
    std::string nameExtension, pathExtension;
    const bool nameOk = ExtensionOfPath(name, &nameExtension);
    ASSERT_EQ(nameOk, ExtensionOfPath(folder + "\\" + name, &pathExtension)) << folder << "\\" << name;
    if (nameOk) {
      ASSERT_EQ(nameExtension, pathExtension);
    }
    ASSERT_EQ(MatchesWatchType(name, typeNames, kWatchTypeCount),
              MatchesWatchType(folder + "\\" + name, typeNames, kWatchTypeCount));
    if (nameOk) {
      ASSERT_LE(nameExtension.size(), kMaxExtensionLength);
    }

    const std::string boms[] = {"", "\xFF\xFE", "\xFE\xFF", "\xFF", std::string("\xFF\xFE\0\0", 4),
                                std::string("\0\0\xFE\xFF", 4), "\xEF\xBB\xBF"};
    const std::string content = boms[h.Below(7)] + h.Bytes(200, std::string("\r\n\0\xD8\xDC\xB0\xE4\x80 ", 9));
    CScriptViews whole, pieces;
    CScriptTextDecoder one(files), many(files);
    one.Decode(content.data(), content.size(), &whole);
    one.Finish(&whole);
    for (size_t at = 0; at < content.size();) {
      const size_t piece = std::min(content.size() - at, size_t{1} + h.Below(5));
      many.Decode(content.data() + at, piece, &pieces);
      at += piece;
    }
    many.Finish(&pieces);
    ASSERT_EQ(whole.bytes, pieces.bytes);
    ASSERT_EQ(whole.converted, pieces.converted);
  }
  // Upload-alert rows of any size: the SMS text stays short, and every row is looked at once.
  CSettings settings;
  settings.wormchk = true;
  settings.strPhone = "13900000000";
  struct CSender : IAlertSender {
    std::vector<CAlert> sent;
    void Send(const CAlert& alert) override { sent.push_back(alert); }
  } sender;
  for (int i = 0; i < 200; ++i) {
    std::vector<CResultRowView> rows(h.Below(6));
    for (CResultRowView& row : rows)
      row = {i % 20 == 0 ? std::string(100000, '\xB0') : h.Bytes(60, "\\.\xB0"),
             h.Below(2) ? " 可疑 " : h.Mutate("可疑")};
    int32_t cursor = h.Below(3) ? 0 : static_cast<int32_t>(h.random());
    const int32_t start = cursor < 0 ? 0 : cursor;
    CheckUploadAlert(settings, rows, cursor, sender);
    ASSERT_EQ(std::max<int64_t>(start, static_cast<int64_t>(rows.size())), cursor);
    for (const CAlert& alert : sender.sent)
      ASSERT_TRUE(alert.strSmsText.size() < kUploadSmsLimit || alert.strSmsText == kUploadSmsReplacement);
    sender.sent.clear();
  }
}

// Logon records whose client-chosen names (4625's user, domain and workstation; 18456's login and
// database; FTP's user) hold anything a client can send: the address read is the one the server
// wrote, or none, never one a name spells.
TEST(HostileInput, LogonRecordsNameOnlyTheServersAddress) {
  CHostile h;
  const std::string steer = "192.168.1.10";
  const std::string pieces[] = {"[CLIENT: " + steer + "]", steer, "<", ">", "'", "\"", "&", ";", "#", " ", "+",
                                "\r", "\n", std::string(1, '\0'), "</Data>", "<Data Name='IpAddress'>", "<!--",
                                "&lt;", "&#60;", "&#x3c;", "&apos;", "\xef\xbc\x9c", "\xef\xbc\x9e", "\xb0",
                                "]]>", "[CLIENT:", "-"};
  const auto name = [&]() {
    std::string text;
    if (h.Below(200) == 0) return std::string(100 * 1024, '<');
    for (size_t n = h.Below(12); n > 0; --n) text += h.Below(4) ? pieces[h.Below(sizeof pieces / sizeof pieces[0])] : h.Bytes(3, "a.1");
    return text;
  };
  // As the event log writes a name into its XML: markup characters as entities.
  const auto escaped = [](const std::string& text) {
    std::string out;
    for (char c : text) {
      if (c == '<') out += "&lt;";
      else if (c == '>') out += "&gt;";
      else if (c == '&') out += "&amp;";
      else if (c == '\0') out += "?";
      else out += c;
    }
    return out;
  };
  const auto field = [](const std::string& key, const std::string& value) {
    return "<Data Name='" + key + "'>" + value + "</Data>";
  };
  CW3cReader ftp;
  ftp.ReadLine(std::string("#Fields: date time cs-username c-ip cs-method sc-status x-session"));
  for (int i = 0; i < 3000; ++i) {
    const std::string user = name(), domain = name(), station = name(), ip = h.Below(3) ? "203.0.113.50" : "-";
    const std::string security =
        "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider "
        "Name='Microsoft-Windows-Security-Auditing'/><EventID>4625</EventID><TimeCreated "
        "SystemTime='2026-12-08T01:02:03.4567890Z'/></System><EventData>" +
        field("TargetUserName", escaped(user)) + field("TargetDomainName", escaped(domain)) + field("LogonType", "3") +
        field("WorkstationName", escaped(station)) + field("IpAddress", ip) + field("IpPort", "51234") +
        "</EventData></Event>";
    const CLogonEvent event = ReadEventXml(security);
    ASSERT_NE(steer, event.strAddress) << user.substr(0, 60);
    if (event.eOutcome != ELogonOutcome::kNone) {
      ASSERT_EQ(ip, event.strAddress) << user.substr(0, 60);
    }
    ASSERT_LE(event.strUser.size(), kMaxUserBytes);

    const std::string client = h.Below(3) ? "[CLIENT: 203.0.113.9]" : "[CLIENT: &lt;local machine&gt;]";
    const std::string sql =
        "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider Name='MSSQLSERVER'/>"
        "<EventID Qualifiers='49152'>18456</EventID></System><EventData><Data>" + escaped(user) +
        "</Data><Data> Reason: Failed to open the explicitly specified database '" + escaped(domain) +
        "'.</Data><Data> " + client + "</Data><Binary>18480000</Binary></EventData></Event>";
    const CLogonEvent login = ReadEventXml(sql);
    ASSERT_NE(steer, login.strAddress) << user.substr(0, 60);
    if (client[9] == '2') {
      ASSERT_EQ("203.0.113.9", login.strAddress) << user.substr(0, 60);
    } else {
      ASSERT_EQ(EAddressKind::kIgnored, ReadLogonAddress(login.strAddress).eKind) << user.substr(0, 60);
    }

    // A raw name inside the markup (what a lossy conversion before parsing could make): the
    // record may be refused, and its bounds hold.
    std::string raw = security;
    const std::string written = field("TargetUserName", escaped(user));
    raw.replace(raw.find(written), written.size(), field("TargetUserName", user));
    const CLogonEvent rawEvent = ReadEventXml(raw);
    ASSERT_LE(rawEvent.strUser.size(), kMaxUserBytes);
    ASSERT_LE(rawEvent.strAddress.size(), kMaxAddressBytes);

    // FTP: the user name ahead of c-ip, as IIS may order them.
    const std::string line = "2026-12-08 01:02:03 " + user + " 203.0.113.51 PASS 530 5a8e0c2d";
    const CLogonEvent failure = ftp.ReadLine(line);
    if (failure.eOutcome != ELogonOutcome::kNone) {
      ASSERT_EQ("203.0.113.51", failure.strAddress) << user.substr(0, 60);
    }
    ASSERT_LE(failure.strUser.size(), kMaxUserBytes);
  }
}

}  // namespace
