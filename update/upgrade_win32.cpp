#include "update/upgrade_win32.h"

// The version file and the hand-over to the updater come with the update work; until then
// the program keeps its own version.
void StartUpgradeCheck() {}
void CheckNewVersion() {}
