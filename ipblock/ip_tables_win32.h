#pragma once
// The program's ports for the tables: the real configuration file, time() and Sleep.
void UseSystemPortsForIpTables();
