#include "upgrader/build_signature.h"

#include "upgrader/build_keys.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The 64 signature bytes of a .sig file; false for anything but 128 lowercase digits.
bool SignatureBytes(const std::string& file, unsigned char out[kEd25519SignatureBytes]) {
  size_t begin = 0, end = file.size();
  while (begin < end && IsBlank(file[begin])) ++begin;
  while (end > begin && IsBlank(file[end - 1])) --end;
  if (end - begin != 2 * kEd25519SignatureBytes) return false;
  for (size_t i = 0; i < kEd25519SignatureBytes; ++i) {
    const int high = HexDigit(file[begin + 2 * i]), low = HexDigit(file[begin + 2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return true;
}

}  // namespace

std::string VersionFileSignedText(const std::string& versionFile) { return "tavrick version.txt\n" + versionFile; }

std::string ManifestSignedText(const std::string& width, const std::string& manifest) {
  return "tavrick " + width + "/" + kManifestName + "\n" + manifest;
}

std::string BuildFolderWidth(const std::string& folderUrl) {
  for (const char* width : {"x86", "x64"}) {
    const std::string tail = std::string("/newsoft/") + width + "/";
    if (folderUrl.size() >= tail.size() && folderUrl.compare(folderUrl.size() - tail.size(), tail.size(), tail) == 0)
      return width;
  }
  return "";
}

bool SignatureVerifies(const std::string& message, const std::string& signatureFile,
                       const unsigned char (*keys)[kEd25519KeyBytes], size_t keyCount) {
  unsigned char signature[kEd25519SignatureBytes];
  if (signatureFile.size() > kMaxSignatureBytes || !SignatureBytes(signatureFile, signature)) return false;
  for (size_t i = 0; i < keyCount; ++i)
    if (Ed25519Verify(keys[i], message.data(), message.size(), signature)) return true;
  return false;
}

bool SignedByVendor(const std::string& message, const std::string& signatureFile) {
  return SignatureVerifies(message, signatureFile, kBuildKeys, kBuildKeyCount);
}

bool ReadSignedManifest(const std::string& text, const std::string& signatureFile, const std::string& width,
                        CBuildManifest& manifest, std::string& reason) {
  manifest = CBuildManifest();
  if (width.empty() || !SignedByVendor(ManifestSignedText(width, text), signatureFile)) {
    reason = "文件清单签名不符";
    return false;
  }
  return ParseManifest(text, manifest, reason);
}
