#pragma once
// Version checks against the vendor service's version file.
void StartUpgradeCheck();  // at start-up, on a thread of its own
void CheckNewVersion();    // once a day
