// The hash and the signature check that authenticate builds, and what the updater accepts as
// the vendor's manifest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "build_signer.h"
#include "upgrader/build_keys.h"
#include "upgrader/build_signature.h"
#include "upgrader/sha256.h"
#include "upgrader/sha512.h"

namespace {

std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string Sha512Hex(const std::string& message, size_t piece) {
  CSha512 hash;
  for (size_t i = 0; i < message.size(); i += piece) hash.Update(message.data() + i, std::min(piece, message.size() - i));
  unsigned char digest[64];
  hash.Digest(digest);
  return ToHex(digest, 64);
}

// RFC 8032, section 7.1, tests 1 to 3.
struct CVector {
  const char* seed;
  const char* publicKey;
  const char* message;
  const char* signature;
};
const CVector kVectors[] = {
    {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
    {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
     "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
};

bool Verifies(const std::vector<unsigned char>& key, const std::vector<unsigned char>& message,
              const std::vector<unsigned char>& signature) {
  return Ed25519Verify(key.data(), message.data(), message.size(), signature.data());
}

TEST(BuildSignature, Sha512Vectors) {
  const std::string twoBlocks =
      "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
  EXPECT_EQ("cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e",
            Sha512Hex("", 1));
  EXPECT_EQ("ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f",
            Sha512Hex("abc", 1));
  for (size_t piece : {size_t(1), size_t(7), size_t(200)})  // fed in pieces across the block border
    EXPECT_EQ("8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909",
              Sha512Hex(twoBlocks, piece));
}

TEST(BuildSignature, Rfc8032VectorsVerifyAndAnyChangeIsRefused) {
  for (const CVector& v : kVectors) {
    SCOPED_TRACE(v.publicKey);
    const std::vector<unsigned char> seed = FromHex(v.seed), key = FromHex(v.publicKey);
    const std::vector<unsigned char> message = FromHex(v.message), signature = FromHex(v.signature);
    EXPECT_TRUE(Verifies(key, message, signature));
    // The tests' signer gives the published key and signature.
    unsigned char derived[32], signed_[64];
    Ed25519PublicKey(seed.data(), derived);
    EXPECT_EQ(v.publicKey, ToHex(derived, 32));
    Ed25519Sign(seed.data(), std::string(message.begin(), message.end()), signed_);
    EXPECT_EQ(v.signature, ToHex(signed_, 64));

    for (size_t bit = 0; bit < 512; bit += 13) {  // R and S
      std::vector<unsigned char> bad = signature;
      bad[bit / 8] ^= static_cast<unsigned char>(1 << (bit % 8));
      EXPECT_FALSE(Verifies(key, message, bad)) << bit;
    }
    for (size_t bit = 0; bit < 256; bit += 11) {
      std::vector<unsigned char> bad = key;
      bad[bit / 8] ^= static_cast<unsigned char>(1 << (bit % 8));
      EXPECT_FALSE(Verifies(bad, message, signature)) << bit;
    }
    std::vector<unsigned char> longer = message;
    longer.push_back(0);
    EXPECT_FALSE(Verifies(key, longer, signature));
    if (!message.empty()) {
      std::vector<unsigned char> changed = message;
      changed[0] ^= 1;
      EXPECT_FALSE(Verifies(key, changed, signature));
    }
    // S + L is the same scalar, but not in canonical form: refused (no second signature of a message).
    const std::vector<unsigned char> order = FromHex("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
    std::vector<unsigned char> plusOrder = signature;
    unsigned carry = 0;
    for (size_t i = 0; i < 32; ++i) {
      carry += plusOrder[32 + i] + order[i];
      plusOrder[32 + i] = static_cast<unsigned char>(carry);
      carry >>= 8;
    }
    EXPECT_FALSE(Verifies(key, message, plusOrder));
  }
  // A key whose y is not below p (p + 1 encodes the same y as 1) is refused.
  const std::vector<unsigned char> notCanonical = FromHex("eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f");
  EXPECT_FALSE(Verifies(notCanonical, {}, FromHex(kVectors[0].signature)));
}

TEST(BuildSignature, StandInKeyIsTheCompiledInOne) {
  unsigned char derived[32];
  Ed25519PublicKey(kStandInBuildSeed, derived);
  EXPECT_EQ(ToHex(kBuildKeys[0], 32), ToHex(derived, 32));
  const std::string file = StandInSignatureFile(VersionFileSignedText("2.40"));
  EXPECT_TRUE(SignedByVendor(VersionFileSignedText("2.40"), file));
  EXPECT_TRUE(SignedByVendor(VersionFileSignedText("2.40"), " \r\n" + file.substr(0, 128) + "\r\n"));
  EXPECT_FALSE(SignedByVendor(VersionFileSignedText("2.41"), file));
  EXPECT_FALSE(SignedByVendor("2.40", file));  // the bare file, without the line naming it
  // The .sig file holds lowercase digits and nothing else.
  std::string upper = file.substr(0, 128);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string& bad : {std::string(), upper, file.substr(0, 126), file.substr(0, 128) + "00",
                                 file.substr(0, 64) + " " + file.substr(64, 64), std::string(300, '0')})
    EXPECT_FALSE(SignedByVendor(VersionFileSignedText("2.40"), bad)) << bad;
  // Another key's signature is no vendor's.
  unsigned char other[32] = {1}, signature[64];
  Ed25519Sign(other, VersionFileSignedText("2.40"), signature);
  EXPECT_FALSE(SignedByVendor(VersionFileSignedText("2.40"), ToHex(signature, 64)));
  EXPECT_FALSE(SignatureVerifies(VersionFileSignedText("2.40"), ToHex(signature, 64), kBuildKeys, kBuildKeyCount));
}

TEST(BuildSignature, OnlyTheVendorsManifestOfThatWidthIsRead) {
  const std::string text = "version 2.40\r\nfile tavrick.exe 11 " + Sha256Hex("new program") + "\r\n";
  const std::string signature = StandInSignatureFile(ManifestSignedText("x64", text));
  CBuildManifest manifest;
  std::string reason;
  ASSERT_TRUE(ReadSignedManifest(text, signature, "x64", manifest, reason)) << reason;
  EXPECT_EQ("2.40", manifest.strVersion);
  ASSERT_EQ(1u, manifest.files.size());

  // One byte changed anywhere (version, size, digest, a line break), the other width's folder,
  // no signature: refused, and nothing of the text is kept.
  std::vector<std::string> changed;
  for (size_t i = 0; i < text.size(); i += 5) {
    std::string bad = text;
    bad[i] = bad[i] == '1' ? '2' : '1';
    changed.push_back(bad);
  }
  for (const std::string& bad : changed) {
    EXPECT_FALSE(ReadSignedManifest(bad, signature, "x64", manifest, reason)) << bad;
    EXPECT_EQ("文件清单签名不符", reason);
    EXPECT_TRUE(manifest.files.empty());
  }
  EXPECT_FALSE(ReadSignedManifest(text, signature, "x86", manifest, reason));
  EXPECT_FALSE(ReadSignedManifest(text, signature, "", manifest, reason));
  EXPECT_FALSE(ReadSignedManifest(text, "", "x64", manifest, reason));
  EXPECT_FALSE(ReadSignedManifest(text, StandInSignatureFile(VersionFileSignedText(text)), "x64", manifest, reason));
  // Signed but no manifest: the parser's reason.
  EXPECT_FALSE(ReadSignedManifest("version 2.40\r\n", StandInSignatureFile(ManifestSignedText("x64", "version 2.40\r\n")),
                                  "x64", manifest, reason));
  EXPECT_EQ("文件清单没有tavrick.exe", reason);

  EXPECT_EQ("x64", BuildFolderWidth("http://svc/tavrick/newsoft/x64/"));
  EXPECT_EQ("x86", BuildFolderWidth("http://svc/tavrick/newsoft/x86/"));
  EXPECT_EQ("", BuildFolderWidth("http://svc/tavrick/newsoft/x64"));
}

}  // namespace
