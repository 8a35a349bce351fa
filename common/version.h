#pragma once
// Build identity. The 32-bit build is the shipping program; the 64-bit build carries its own tag.
#if defined(_WIN64) || defined(__x86_64__)
constexpr int kBuildBits = 64;
#define TAVRICK_VERSION_TAG "Tavrickx64_v2.30"
#else
constexpr int kBuildBits = 32;
#define TAVRICK_VERSION_TAG "Tavrickx86_v2.30"
#endif
constexpr const char* kVersionTag = TAVRICK_VERSION_TAG;
// "2.36"; the caption tag keeps its own number. Defined alone in version.cpp, so that the update
// tests can link the same program under a newer number.
extern const char kVersionNumber[];
constexpr const char* kAppName = "tavrick";  // message box title: the executable's name
