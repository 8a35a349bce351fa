// MD5 of the remote password. Expected digests from Python: hashlib.md5(data).hexdigest(),
// for the GBK text hashlib.md5('中文密码'.encode('gbk')).hexdigest().
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "remote/md5.h"

namespace {

// Bytes 1, 2, ... 255, 1, 2, ...: no NUL, so the same data also works as a C string.
// Python: bytes(i % 255 + 1 for i in range(size))
std::string Pattern(size_t size) {
  std::string data;
  for (size_t i = 0; i < size; ++i) data.push_back(static_cast<char>(i % 255 + 1));
  return data;
}

std::string Hex(const unsigned char digest[16]) {
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (int i = 0; i < 16; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 0x0f]);
  }
  return hex;
}

// Digest of data fed to Update in pieces of the given size.
std::string DigestInPieces(const std::string& data, size_t piece) {
  CMd5A md5;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  for (size_t at = 0; at < data.size(); at += piece)
    md5.Update(bytes + at, std::min(piece, data.size() - at));
  unsigned char digest[16];
  md5.Final(digest);
  return Hex(digest);
}

TEST(Md5Rfc1321, TestSuite) {
  const struct {
    const char* text;
    const char* digest;
  } kSuite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890"
       "1234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& v : kSuite) {
    CMd5A md5;
    EXPECT_EQ(md5.MD5String(v.text), v.digest) << '"' << v.text << '"';
    EXPECT_EQ(MD5Text(v.text), v.digest) << '"' << v.text << '"';
  }
}

TEST(Md5Rfc1321, PaddingBoundaries) {
  // Lengths around the 56-byte padding limit and the 64-byte block.
  const struct {
    size_t size;
    const char* digest;
  } kCases[] = {
      {55, "b0dfea8a6c34da94d11ac2d6859fdd0b"},  {56, "0e948e7f8183ae39d759364fa6d61cd2"},
      {57, "adc5941735e23599c993d518ae4278de"},  {63, "d41676f6509e0ade859c0040ea4bfdc0"},
      {64, "50e845bfe6c70fee663ab5500fd0c411"},  {65, "044894247ae4b4e80648e446fe9af9cd"},
      {119, "663fb06214082d0dcb8bc068b48cd7d6"}, {120, "fc8624c702e223cde12e604baa4eeef9"},
      {1000, "41cf9568ef4d92f53b6d0ce26825bbc2"},
  };
  for (const auto& c : kCases) EXPECT_EQ(MD5Text(Pattern(c.size)), c.digest) << c.size;
}

TEST(Md5Rfc1321, PiecewiseUpdateMatchesWhole) {
  const std::string data = Pattern(1000);
  for (size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 1000u})
    EXPECT_EQ(DigestInPieces(data, piece), "41cf9568ef4d92f53b6d0ce26825bbc2") << piece;
  EXPECT_EQ(DigestInPieces(std::string(1000000, 'a'), 4096), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5Text, GbkPassword) {
  const std::string password = "中文密码";  // compiled as GBK: 8 bytes
  ASSERT_EQ(password, "\xd6\xd0\xce\xc4\xc3\xdc\xc2\xeb");
  EXPECT_EQ(MD5Text(password), "cab54837b8cb3345b7d7bd03e904d1c8");
}

TEST(Md5Text, TypicalPasswords) {
  EXPECT_EQ(MD5Text("123456"), "e10adc3949ba59abbe56e057f20f883e");
  EXPECT_EQ(MD5Text("abcdef"), "e80b5017098950fc58aad83c8c14978e");
  // A trailing blank is part of what is hashed.
  EXPECT_EQ(MD5Text("abcdef "), "5d1566660bc8029e519177e0feb26b7b");
}

TEST(Md5Text, FormIsThirtyTwoLowercaseHexDigits) {
  for (const char* text : {"", "abc", "中文密码", "\xff\xfe"}) {
    const std::string digest = MD5Text(text);
    ASSERT_EQ(digest.size(), 32u);
    for (char ch : digest)
      EXPECT_TRUE((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f')) << digest;
  }
}

TEST(Md5Text, EndsAtFirstNul) {
  EXPECT_EQ(MD5Text(std::string("abc\0def", 7)), "900150983cd24fb0d6963f7d28e17f72");
  CMd5A md5;
  EXPECT_EQ(md5.MD5String(nullptr), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5Object, ReusableAfterEachDigest) {
  CMd5A md5;
  EXPECT_EQ(md5.MD5String("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5.MD5String("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5.MD5String("a"), "0cc175b9c0f1b6a831c399e269772661");
  // Half-fed state is dropped by the next MD5String.
  md5.Update(reinterpret_cast<const unsigned char*>("xyz"), 3);
  EXPECT_EQ(md5.MD5String("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
}

TEST(Md5Object, InitStartsOverAfterFinal) {
  CMd5A md5;
  unsigned char digest[16];
  md5.Update(reinterpret_cast<const unsigned char*>("abc"), 3);
  md5.Final(digest);
  EXPECT_EQ(Hex(digest), "900150983cd24fb0d6963f7d28e17f72");
  md5.Init();
  md5.Final(digest);
  EXPECT_EQ(Hex(digest), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
