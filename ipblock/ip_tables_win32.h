#pragma once
// The program's ports for the tables: the real configuration file, time() and Sleep, and the
// configuration log for the automatic blocks held back as patterns.
void UseSystemPortsForIpTables();
