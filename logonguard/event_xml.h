#pragma once
// Reads the few fields the guard needs from the XML the event log renders for one event
// (EvtRender with EvtRenderEventXml, converted to the ANSI code page): Security 4625 and 4624,
// Application 18456 of an MSSQL* provider. Not a general XML parser: it walks tags and text once,
// decodes the five named entities and numeric references (non-ASCII ones become '?'), keeps
// every value within a fixed bound, and never reads past the text it is given.
#include <string>

#include "logonguard/logon_event.h"

// eOutcome is kNone for any other event, a malformed one, or one that lacks its fields.
CLogonEvent ReadEventXml(const std::string& xml);

// The address of "[CLIENT: a.b.c.d]" in a SQL Server message, "" when there is none.
std::string FindSqlClient(const std::string& text);
