#pragma once
// The one link to the packet filter driver: device names, command wrappers, the state flags
// other threads look at, and the start and stop sequences of protection.
#include <atomic>
#include <cstdint>
#include <functional>

#include "driver/device_port.h"
#include "driver/driver_records.h"
#include "common/ip_entries.h"

extern const char kDeviceName[];         // "\\.\FIREWALLDRIVER"
extern const char kDeviceGlobalName[];   // "\\.\Globals\FIREWALLDRIVER"

// Read by the packet reader thread while the main thread sends commands: atomics with plain
// loads and stores, no stronger ordering is promised to the readers.
extern std::atomic<DeviceHandle> g_hDevice;
extern std::atomic<int32_t> g_bProtecting;
extern std::atomic<int32_t> g_bStopped;
extern std::atomic<int32_t> g_bAdding;
extern std::atomic<int32_t> g_bRemoving;
extern std::atomic<int32_t> g_bDriverIdle;
// The packet list's pause switch; cleared whenever protection is marked running.
extern std::atomic<int32_t> g_bMonitorPaused;
// Whether the driver matches a blocked entry marked kExactMatchMark by its address alone, as
// the last status reply said. False until a driver said so: the vendor's driver never does
// (it reads every 0 octet as a wildcard), our stand-in does.
extern std::atomic<bool> g_bDriverHonoursExact;

// The single snapshot buffer of the process (cleared at main window initialisation).
extern _CPacketSnapshot g_PacketBuffer;

// Which device implementation the link talks to (the Win32 one in the program, a fake in
// tests). Must be set before any other call here.
void SetDevicePort(IDevice* device);
IDevice* DevicePort();

void MarkRunning();
void MarkStopped();

bool ProbeDevice();
bool OpenDevice();

// 1 when the driver accepted the request, 0 otherwise or at once when the device is not open.
int AddBlock(const _CIPFilter* entry);
int RemoveBlock(const _CIPFilter* entry);
int RemoveAllBlocks();
int AddException(const _CIPOuter* entry);
int RemoveException(const _CIPOuter* entry);
int SetPingRule(const _CPingRule* rule);
// Asks with room for one word after the 8-byte status: a driver that honours the exact mark
// writes the mark there; the vendor's driver writes only the status. A driver that refuses
// the larger buffer is asked again with exactly 8 bytes. Sets g_bDriverHonoursExact.
int QueryDriverStatus(_CDriverStatus* status);
int FetchPackets(_CPacketSnapshot* snapshot);

// Results of the start sequence.
constexpr int kStartFailed = 0;
constexpr int kStartOk = 1;
constexpr int kStartNeedsRestart = 100;
constexpr int kStartDriverTooOld = 101;

// Called between the load steps: process pending window messages, then wait this many ms.
using PumpAndWait = std::function<void(int milliseconds)>;

// The first part of the start: opens the device, checks version and readiness and starts
// filtering. Returns 0, 1, 100 or 101.
int StartDriverFiltering();
// Says whether a listed block must stay out of the driver (it stays in the list and the file).
using HoldBackBlock = std::function<bool(const _CIPFilter& entry)>;
// The second part: loads both lists into the driver (exceptions first), pacing each step. A
// block that holdBack names is not sent.
void LoadListsIntoDriver(const CIpOuterList& exceptions, const CIpFilterList& blocked, const PumpAndWait& pump,
                         const HoldBackBlock& holdBack = nullptr);
// The pause after each entry the load adds (200 ms; half of it after each exception removed).
// Only a test build shortens it, before start-up; 0 restores it.
void SetListLoadPauseMs(int addedMs);
// Both parts in one: opens the device, checks version and readiness, starts filtering and loads both lists
// (exceptions first). Returns 0, 1, 100 or 101.
int StartDriverSequence(const CIpOuterList& exceptions, const CIpFilterList& blocked,
                        const PumpAndWait& pump);
// Stops filtering, cancels and closes the device and marks protection stopped. 1 or 0.
int StopDriverSequence();
