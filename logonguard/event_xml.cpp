#include "logonguard/event_xml.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

#include "logonguard/log_text.h"

namespace {

const char kSecurityProvider[] = "Microsoft-Windows-Security-Auditing";
const char kRdpCoreProvider[] = "Microsoft-Windows-RemoteDesktopServices-RdpCoreTS";

constexpr size_t kMaxTextBytes = 4096;  // text of one element (an 18456 message fits)
constexpr size_t kMaxNameBytes = 64;    // element and attribute names

bool StartsWith(const std::string& s, size_t pos, const char* prefix) {
  for (size_t i = 0; prefix[i]; ++i)
    if (pos + i >= s.size() || s[pos + i] != prefix[i]) return false;
  return true;
}

// Appends the decoded text of xml[begin, end) to out, stopping at the bound; cut tells so.
void AppendDecoded(const std::string& xml, size_t begin, size_t end, std::string& out, bool& cut) {
  for (size_t i = begin; i < end; ++i) {
    if (out.size() >= kMaxTextBytes) {
      cut = true;
      return;
    }
    char c = xml[i];
    if (c == '&') {
      const size_t semi = xml.find(';', i);
      if (semi != std::string::npos && semi < end && semi - i <= 10) {
        const std::string entity = xml.substr(i + 1, semi - i - 1);
        long code = -1;
        if (entity == "amp") code = '&';
        else if (entity == "lt") code = '<';
        else if (entity == "gt") code = '>';
        else if (entity == "quot") code = '"';
        else if (entity == "apos") code = '\'';
        else if (entity.size() > 1 && entity[0] == '#') {
          const bool hex = entity[1] == 'x' || entity[1] == 'X';
          const std::string digits = entity.substr(hex ? 2 : 1);
          char* stop = nullptr;
          code = digits.empty() ? -1 : std::strtol(digits.c_str(), &stop, hex ? 16 : 10);
          if (stop == nullptr || *stop != '\0') code = -1;
          else if (code <= 0) code = '?';
        }
        if (code > 127) {
          // A reference to a character beyond ASCII is that character in UTF-8, like the text.
          AppendUtf8(out, static_cast<unsigned long>(code));
          i = semi;
          continue;
        }
        if (code >= 0) {
          c = static_cast<char>(code);
          i = semi;
        }
      }
    }
    // Control characters never reach a table row or a log line.
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
    out += c;
  }
}

// One tag: its name without a namespace prefix, and the two attributes the reader wants.
struct CTag {
  std::string strName;
  std::string strNameAttr;  // Name='...'
  std::string strTimeAttr;  // SystemTime='...'
  bool bClosing = false;
  bool bSelfClosing = false;
};

// Reads the tag starting at xml[lt] == '<'; returns the position after its '>', or npos when the
// text ends inside it. Quoted values may hold '>'.
size_t ReadTag(const std::string& xml, size_t lt, CTag& tag) {
  size_t pos = lt + 1;
  if (pos < xml.size() && xml[pos] == '/') {
    tag.bClosing = true;
    ++pos;
  }
  auto readName = [&](std::string& out) {
    while (pos < xml.size() && !std::isspace(static_cast<unsigned char>(xml[pos])) && xml[pos] != '>' &&
           xml[pos] != '/' && xml[pos] != '=') {
      if (out.size() < kMaxNameBytes) out += xml[pos];
      ++pos;
    }
  };
  readName(tag.strName);
  const size_t colon = tag.strName.rfind(':');
  if (colon != std::string::npos) tag.strName.erase(0, colon + 1);
  while (pos < xml.size()) {
    const char c = xml[pos];
    if (c == '>') return pos + 1;
    if (c == '/') {
      tag.bSelfClosing = true;
      ++pos;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++pos;
      continue;
    }
    std::string attr;
    readName(attr);
    if (attr.empty()) {
      ++pos;  // a stray character
      continue;
    }
    while (pos < xml.size() && std::isspace(static_cast<unsigned char>(xml[pos]))) ++pos;
    if (pos >= xml.size() || xml[pos] != '=') continue;
    ++pos;
    while (pos < xml.size() && std::isspace(static_cast<unsigned char>(xml[pos]))) ++pos;
    if (pos >= xml.size()) return std::string::npos;
    const char quote = xml[pos];
    if (quote != '\'' && quote != '"') continue;
    const size_t close = xml.find(quote, pos + 1);
    if (close == std::string::npos) return std::string::npos;
    const size_t acolon = attr.rfind(':');
    if (acolon != std::string::npos) attr.erase(0, acolon + 1);
    bool cut = false;
    if (attr == "Name") AppendDecoded(xml, pos + 1, close, tag.strNameAttr, cut);
    else if (attr == "SystemTime") AppendDecoded(xml, pos + 1, close, tag.strTimeAttr, cut);
    pos = close + 1;
  }
  return std::string::npos;
}

// Decimal digits only, at most 19 of them; anything else is -1.
long long ReadNumber(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  if (b == e || e - b > 18) return -1;
  long long value = 0;
  for (size_t i = b; i < e; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

std::string Bounded(const std::string& text, size_t bound) { return CutUtf8(text, bound); }

constexpr size_t kMaxDataNames = 64;  // named fields of one record (4624 has 27)

struct CFields {
  std::string strProvider, strTime, strIp, strUser, strFirstData, strLastData, strIpString;
  long long nEventId = -1, nRecordId = -1, nLogonType = -1;
  bool bIp = false, bUser = false, bType = false, bFirstData = false, bIpString = false;
  // The event log writes each named field once: a name seen twice, or more names than any
  // record has, means the text is not what the log wrote, and the record gives nothing.
  std::vector<std::string> names;
  bool bForged = false;
};

void TakeText(CFields& f, bool inSystem, bool inEventData, const std::string& element, const std::string& dataName,
              const std::string& text, bool cut) {
  if (inSystem) {
    if (element == "EventID" && f.nEventId < 0) f.nEventId = ReadNumber(text);
    else if (element == "EventRecordID" && f.nRecordId < 0) f.nRecordId = ReadNumber(text);
    return;
  }
  if (!inEventData || element != "Data") return;
  if (!dataName.empty()) {
    if (f.names.size() >= kMaxDataNames || std::find(f.names.begin(), f.names.end(), dataName) != f.names.end()) {
      f.bForged = true;
      return;
    }
    f.names.push_back(dataName);
  }
  if (dataName == "IpAddress") {
    f.bIp = true;
    f.strIp = cut || text.size() > kMaxAddressBytes ? std::string() : text;  // too long is no address
  } else if (dataName == "TargetUserName") {
    f.bUser = true;
    f.strUser = CutUtf8(text, kMaxUserBytes);
  } else if (dataName == "IPString") {
    f.bIpString = true;
    f.strIpString = cut || text.size() > kMaxAddressBytes ? std::string() : text;
  } else if (dataName == "LogonType") {
    f.bType = true;
    f.nLogonType = ReadNumber(text);
  } else if (dataName.empty()) {
    // SQL Server's fields have no names: the login first (the client chooses it), the reason,
    // and last the client's address, which the server writes itself.
    if (!f.bFirstData) {
      f.bFirstData = true;
      f.strFirstData = CutUtf8(text, kMaxUserBytes);
    }
    f.strLastData = cut ? std::string() : text;
  }
}

bool IsSqlProvider(const std::string& provider) {
  if (provider.size() < 5) return false;
  for (int i = 0; i < 5; ++i)
    if (std::toupper(static_cast<unsigned char>(provider[i])) != "MSSQL"[i]) return false;
  return true;
}

}  // namespace

std::string ReadSqlClient(const std::string& text) {
  static const char kHead[] = "[CLIENT: ";
  const size_t headBytes = sizeof kHead - 1;
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  if (e - b < headBytes + 1 || text.compare(b, headBytes, kHead) != 0 || text[e - 1] != ']') return {};
  // a.b.c.d: four groups of one to three digits, nothing else.
  const std::string address = text.substr(b + headBytes, e - 1 - b - headBytes);
  int groups = 0;
  size_t digits = 0;
  for (size_t i = 0; i <= address.size(); ++i) {
    if (i == address.size() || address[i] == '.') {
      if (digits == 0 || digits > 3) return {};
      ++groups;
      digits = 0;
    } else if (address[i] >= '0' && address[i] <= '9') {
      ++digits;
    } else {
      return {};
    }
  }
  return groups == 4 ? address : std::string();
}

CLogonEvent ReadEventXml(const std::string& xml, const TextConverter& toAnsi) {
  CFields f;
  bool inSystem = false, inEventData = false;
  bool ended = false;  // the root's closing tag was read: the record is whole
  int eventDatas = 0;
  std::string open, dataName, text;
  bool cut = false;
  size_t pos = 0;
  while (pos < xml.size()) {
    const size_t lt = xml.find('<', pos);
    if (!open.empty()) AppendDecoded(xml, pos, lt == std::string::npos ? xml.size() : lt, text, cut);
    if (lt == std::string::npos) break;
    if (StartsWith(xml, lt, "<!--")) {
      const size_t end = xml.find("-->", lt + 4);
      if (end == std::string::npos) break;
      pos = end + 3;
      continue;
    }
    if (StartsWith(xml, lt, "<!") || StartsWith(xml, lt, "<?")) {
      const size_t end = xml.find('>', lt);
      if (end == std::string::npos) break;
      pos = end + 1;
      continue;
    }
    CTag tag;
    const size_t next = ReadTag(xml, lt, tag);
    if (next == std::string::npos) break;  // cut inside a tag: what was read stays
    pos = next;
    if (tag.bClosing) {
      if (tag.strName == open) TakeText(f, inSystem, inEventData, open, dataName, text, cut);
      open.clear();
      if (tag.strName == "System") inSystem = false;
      if (tag.strName == "EventData") inEventData = false;
      if (tag.strName == "Event") {
        ended = true;
        break;
      }
      continue;
    }
    open.clear();
    if (tag.strName == "System") {
      inSystem = true;
    } else if (tag.strName == "EventData") {
      // One EventData, and every Data inside it: fields the record holds elsewhere are not its.
      if (++eventDatas > 1) f.bForged = true;
      inEventData = true;
    } else if (tag.strName == "Data" && !inEventData) {
      f.bForged = true;
    } else if (inSystem && tag.strName == "Provider" && f.strProvider.empty()) {
      f.strProvider = Bounded(tag.strNameAttr, 256);
    } else if (inSystem && tag.strName == "TimeCreated" && f.strTime.empty()) {
      f.strTime = Bounded(tag.strTimeAttr, kMaxTimeBytes);
    }
    // Only the elements whose text is read collect it.
    if (!tag.bSelfClosing && (tag.strName == "Data" || tag.strName == "EventID" || tag.strName == "EventRecordID")) {
      open = tag.strName;
      dataName = tag.strName == "Data" ? tag.strNameAttr : std::string();
      text.clear();
      cut = false;
    }
  }

  CLogonEvent event;
  event.strTime = f.strTime;
  event.tRecord = ReadRecordTime(f.strTime);
  if (f.nRecordId > 0) event.nRecordId = static_cast<uint64_t>(f.nRecordId);
  if (f.bForged || !ended) return event;
  if ((f.nEventId == 4625 || f.nEventId == 4624) && f.strProvider == kSecurityProvider) {
    if (!f.bIp) return event;
    const int type = f.nLogonType > 0 && f.nLogonType < 100 ? static_cast<int>(f.nLogonType) : 0;
    // Only a success that may clear a count is one (the query asks for no other).
    if (f.nEventId == 4624 && !IsClearingLogonType(type)) return event;
    event.eOutcome = f.nEventId == 4625 ? ELogonOutcome::kFailure : ELogonOutcome::kSuccess;
    event.eChannel = EEventChannel::kSecurity;
    event.nLogonType = type;
    event.eSource = type == 10 ? ELogonSource::kRemoteDesktop : ELogonSource::kWindowsNetwork;
    event.strAddress = f.strIp;
    // Network level authentication fails as a network logon with no address: counted apart
    // so the guessing is seen, never blocked (the RdpCoreTS record has the address).
    event.bNoAddress = event.eOutcome == ELogonOutcome::kFailure && (f.strIp.empty() || f.strIp == "-");
    event.strUser = ConvertedValue(f.strUser, kMaxUserBytes, toAnsi);
  } else if (f.nEventId == 140 && f.strProvider == kRdpCoreProvider) {
    // "A connection from the client computer with an IP address of %1 failed because the user
    // name or password is not correct": the address the server took the connection from, in
    // the one field named IPString. The record names no user. (131, a connection accepted,
    // proves nothing and is never read as a failure.)
    if (!f.bIpString || f.strIpString.empty()) return event;
    event.eOutcome = ELogonOutcome::kFailure;
    event.eChannel = EEventChannel::kRemoteDesktop;
    event.eSource = ELogonSource::kRemoteDesktop;
    event.strAddress = f.strIpString;
  } else if (f.nEventId == 18456 && IsSqlProvider(f.strProvider)) {
    const std::string client = ReadSqlClient(f.strLastData);
    if (client.empty()) return event;
    event.eOutcome = ELogonOutcome::kFailure;
    event.eChannel = EEventChannel::kApplication;
    event.eSource = ELogonSource::kSqlServer;
    event.strProvider = ConvertedValue(f.strProvider, 256, toAnsi);
    event.strAddress = client;
    event.strUser = ConvertedValue(f.strFirstData, kMaxUserBytes, toAnsi);
  }
  return event;
}

CLogonEvent ReadEventXmlUtf16(const char16_t* xml, size_t length, const TextConverter& toAnsi) {
  return ReadEventXml(Utf16ToUtf8(xml, length), toAnsi);
}

const char* EventLogChannelPath(EEventChannel channel) {
  switch (channel) {
    case EEventChannel::kSecurity: return "Security";
    case EEventChannel::kApplication: return "Application";
    case EEventChannel::kRemoteDesktop: return "Microsoft-Windows-RemoteDesktopServices-RdpCoreTS/Operational";
    case EEventChannel::kNone: break;
  }
  return "";
}

std::string EventLogQuery(EEventChannel channel) {
  switch (channel) {
    case EEventChannel::kSecurity: {
      // Every failure; of the successes only those that may clear a count: a logon type that
      // clears one, with an address, not the anonymous session (the reader checks the same and
      // the loopback addresses). At most 20 comparisons, attribute tests included: the event
      // log refuses a longer XPath query.
      std::string types;
      for (int type : kClearingLogonTypes)
        types += (types.empty() ? "" : " or ") + std::string("Data[@Name='LogonType']=") + std::to_string(type);
      return "*[System[EventID=4625] or (System[EventID=4624] and EventData[(" + types +
             ") and Data[@Name='IpAddress']!='-' and Data[@Name='TargetUserName']!='ANONYMOUS LOGON'])]";
    }
    case EEventChannel::kApplication: return "*[System[EventID=18456]]";
    case EEventChannel::kRemoteDesktop: return "*[System[EventID=140]]";
    case EEventChannel::kNone: break;
  }
  return std::string();
}
