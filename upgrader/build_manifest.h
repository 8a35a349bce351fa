#pragma once
// The list a build folder publishes beside its files ("manifest.txt"):
//   version 2.40
//   file tavrick.exe 1234567 <64 lowercase hexadecimal digits of the file's SHA-256>
// Everything in it comes from the network, so it is read strictly.
#include <cstdint>
#include <string>
#include <vector>

constexpr const char kManifestName[] = "manifest.txt";
constexpr const char kProgramName[] = "tavrick.exe";
constexpr size_t kMaxManifestBytes = 16 * 1024;
constexpr uint64_t kMaxFileBytes = 64ull * 1024 * 1024;
constexpr size_t kMaxFiles = 64;

struct CBuildFile {
  std::string strName;
  uint64_t nSize = 0;
  std::string strSha256;
};

struct CBuildManifest {
  std::string strVersion;
  std::vector<CBuildFile> files;
};

// A plain file name the updater may write beside the program: letters, digits, "._-", at most
// 64 characters, not hidden, no device name, and none of the files it must keep (any name
// beginning with "tavrick.cfg" or "log", the hand-over record, the updater itself) or its own
// folders.
bool IsReplaceableName(const std::string& name);

// false with a reason (for the record) when the text is not a usable manifest: unknown lines,
// a missing or odd version, bad sizes or digests, unsafe or repeated names, no program.
bool ParseManifest(const std::string& text, CBuildManifest& manifest, std::string& reason);
