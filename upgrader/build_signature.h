#pragma once
// Builds signed by the vendor. Beside the version file and each build folder's manifest the
// service publishes "<name>.sig": the 128 lowercase hexadecimal digits of an Ed25519 signature
// (RFC 8032) by one of the keys in build_keys.h, and a line break. What is signed is one line
// naming the file, then the file's bytes exactly as served:
//   "tavrick version.txt\n" + the version file
//   "tavrick x64/manifest.txt\n" + the manifest of newsoft/x64/ (x86 for the 32-bit folder)
// so a signature of one file never stands for another kind, nor one width's list for the
// other's. Old programs and updaters read the files as before and never ask for the .sig.
#include <cstddef>
#include <string>

#include "upgrader/build_manifest.h"
#include "upgrader/ed25519.h"

constexpr const char kSignatureSuffix[] = ".sig";
constexpr size_t kMaxSignatureBytes = 256;

std::string VersionFileSignedText(const std::string& versionFile);
std::string ManifestSignedText(const std::string& width, const std::string& manifest);

// "x86" or "x64": the last folder of a build folder's address (".../newsoft/x64/"); "" otherwise.
std::string BuildFolderWidth(const std::string& folderUrl);

// True when `signatureFile` holds a signature of `message` (the 128 digits, blanks and line
// breaks around them allowed) that one of `keys` verifies.
bool SignatureVerifies(const std::string& message, const std::string& signatureFile,
                       const unsigned char (*keys)[kEd25519KeyBytes], size_t keyCount);
// The same with the vendor's keys compiled in.
bool SignedByVendor(const std::string& message, const std::string& signatureFile);

// The manifest of the build folder for `width`, read only when the vendor signed it: false with
// the reason for the record when the signature does not verify or the text is no manifest.
bool ReadSignedManifest(const std::string& text, const std::string& signatureFile, const std::string& width,
                        CBuildManifest& manifest, std::string& reason);
