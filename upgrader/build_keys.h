#pragma once
// Public halves of the vendor's Ed25519 keys that sign builds (see docs/vendor-service.md, "Signed
// builds"). A version file or a manifest is accepted when any key of the list verifies it, so a
// new key is added here one release before the service starts signing with it, and an old one is
// taken out only when no installed copy still needs it. upgrade.exe is replaced by the installer
// only, never by an update: it keeps the list it was installed with.
#include <cstddef>

#include "upgrader/ed25519.h"

constexpr unsigned char kBuildKeys[][kEd25519KeyBytes] = {
    // The stand-in vendor service's key, standins/vendor-service/keys/build_signing_key.txt: the
    // tests and the demo sign with it.
    {0x92, 0x59, 0x20, 0xe1, 0x40, 0x59, 0x4a, 0x6c, 0xec, 0x71, 0x5b, 0xc0, 0xda, 0xbf, 0xdc, 0xef,
     0x6c, 0x5b, 0xc4, 0xe3, 0xc4, 0x02, 0xd1, 0xc9, 0xbe, 0x36, 0xef, 0xf3, 0x0e, 0x9d, 0x55, 0x9b},
};
constexpr size_t kBuildKeyCount = sizeof kBuildKeys / sizeof kBuildKeys[0];
