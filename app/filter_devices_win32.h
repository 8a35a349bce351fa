#pragma once
// The program's two packet filter devices (the vendor's driver and the user-mode filter) and
// the facts that protection's start chooses between them by.
#include <string>

#include "app/filter_route.h"

// Probes now: administrator rights, the driver's device, and (unless the setting asks for the
// driver) the filtering engine. Leaves the driver's device as the link's port.
CFilterFacts ProbeFilterFacts(FilterDeviceSetting setting);
// What the last probe found missing for the user-mode filter ("" when it was usable or not asked).
std::string EngineUnusableReason();
// Points the driver link at the chosen device.
void UseFilterDevice(FilterRoute route);
// The link talks to the user-mode filter (not the vendor's driver).
bool UserModeFilterInUse();
// How the user-mode device counts traffic now, for the log ("" for the driver).
std::string UserModeCaptureText();
// The engine's library as a path; only the test build sets it (the recording stand-in), before
// the first start. The program takes the system folder's fwpuclnt.dll.
void SetFilterEngineLibrary(const std::string& path);
