#pragma once
// Reads the few fields the guard needs from the XML the event log renders for one event
// (EvtRender with EvtRenderEventXml, UTF-16, taken as UTF-8 without loss): Security 4625 and
// 4624, Application 18456 of an MSSQL* provider, RdpCoreTS/Operational 140. Not a general XML parser: it walks tags and text
// once, decodes the five named entities and numeric references, keeps every value within a
// fixed bound, and never reads past the text it is given.
//
// An address comes only from a field the server writes: 4625/4624's field named IpAddress, 140's
// field named IPString, and 18456's last field when all of it is "[CLIENT: a.b.c.d]". The names a client chooses (user,
// domain, workstation, login, database) are only ever shown. The text is parsed as UTF-8, so a
// fullwidth '<' stays a character of a name; only the values taken out are converted (toAnsi).
#include <cstddef>
#include <string>

#include "logonguard/log_text.h"
#include "logonguard/logon_event.h"

// eOutcome is kNone for any other event, a 4624 of a logon type that clears no count, a malformed one, one that lacks its fields, or one
// whose named fields repeat (text the event log never writes). xml: UTF-8.
CLogonEvent ReadEventXml(const std::string& xml, const TextConverter& toAnsi = {});
// The same from the UTF-16 text EvtRender gives.
CLogonEvent ReadEventXmlUtf16(const char16_t* xml, size_t length, const TextConverter& toAnsi);

// The address of a SQL Server client field whose whole text (blanks around it aside) is
// "[CLIENT: a.b.c.d]"; "" for anything else.
std::string ReadSqlClient(const std::string& text);

// The channel a source subscribes to and its XPath query (both ASCII): Security 4625 and the 4624
// that ReadEventXml takes as a success (kClearingLogonTypes, with an address, not anonymous);
// Application 18456; RdpCoreTS/Operational 140.
const char* EventLogChannelPath(EEventChannel channel);
std::string EventLogQuery(EEventChannel channel);
