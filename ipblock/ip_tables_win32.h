#pragma once
// The program's ports for the tables: the real configuration file, time(), the message pump for
// the paced pauses, the blocked list's journal beside the file, and the configuration log for
// the automatic blocks held back as patterns.
constexpr char kIpFilterJournalSuffix[] = ".jnl";  // .\tavrick.cfg.jnl
class IListJournal;
// The journal file itself (the program's; tests use it beside their own store).
IListJournal& SystemIpFilterJournal();
void UseSystemPortsForIpTables();
