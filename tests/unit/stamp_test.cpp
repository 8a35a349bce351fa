// Request stamp and its big numbers. Expected values come from Python's own integers:
//   a = 3**500, b = 2**255 - 19, c = 10**40 + 7, M521 = 2**521 - 1
//   e.g. format(a // b, 'X'), a % 1000000007, format(pow(a, c, M521), 'X')
// and stamps from standins/vendor-service/keys/make_stamp_key.py vectors TEXT...
// (format(pow(int.from_bytes(text.encode(), 'big'), e, n), 'x')).
#include <gtest/gtest.h>

#include <string>

#include "alerts/long_number.h"
#include "alerts/stamp_coder.h"
#include "alerts/stamp_key.h"

namespace {

CLongNumber Hex(const std::string& text) { return CLongNumber().FromText(text, 16); }
CLongNumber Dec(const std::string& text) { return CLongNumber().FromText(text, 10); }

const char kA[] =  // 3**500, 793 bits
    "1655D2CE0563F7604E438536EA8BD18717A8D41BA44B36007FC71BFEEDF8DDAA6168BCC52F6106C8206C1293F"
    "75602875A28BD71067DEC768F857B788769FE7D07580E5E29AFCFD919FB9A70357D9830E106A8C5A03CA523974"
    "7C67CF0F71DB37D9DD11";
const char kADecimal[] =
    "3636029179586993684238526707954331911802338502600162304034603583258060019158389548419850"
    "8262979388783308179702534403855752855931517013066142992430916562025780021771247847643450"
    "125342836565813209972590371590152578728008385990139795377610001";
const char kB[] = "57896044618658097711785492504343953926634992332820282019728792003956564819949";
const char kC[] = "10000000000000000000000000000000000000007";
const char kAB[] =  // a * b
    "B2AE96702B1FBB02721C29B7545E8C38BD46A0DD2259B003FE38DFF76FC6ED38855B9183145273E41332636934"
    "A743CEB8CA0AB51A9F431CBFBA9D09A3C8B9948E6048C90A4671224F86C3CBF5C9C0CBF7D44FF54C5C5C524BBB"
    "94C6B9DAB923345D78AE7F392E3125389AC07ADB45F4C8179551B7FBE5BC5AC44BA1DA8CBADAD497BD";
const std::string kMax(280, 'F');  // 2**1120 - 1, all 35 words set

// Private exponent of the built-in key (standins/vendor-service/keys/stamp_private_key.txt).
const char kStampPrivateExponent[] =
    "76806866338770220055174834413545676450675980036998991282037028102231433755";

// --- construction and text ----------------------------------------------------------

TEST(LongNumberText, ZeroIsOneWordOfZero) {
  CLongNumber zero;
  EXPECT_EQ(zero.Length(), 1u);
  EXPECT_EQ(zero.Word(0), 0u);
  EXPECT_TRUE(zero.IsZero());
  EXPECT_EQ(zero.ToText(10), "0");
  EXPECT_EQ(zero.ToText(16), "0");
  EXPECT_EQ(Dec("").Length(), 1u);
  EXPECT_TRUE(Dec("000000").IsZero());
  EXPECT_EQ(Dec("000000").Length(), 1u);
}

TEST(LongNumberText, WordsAreLeastSignificantFirst) {
  CLongNumber n = Dec("4294967296");  // 2**32
  EXPECT_EQ(n.Length(), 2u);
  EXPECT_EQ(n.Word(0), 0u);
  EXPECT_EQ(n.Word(1), 1u);
  EXPECT_EQ(n.Word(2), 0u);
  EXPECT_EQ(n.Word(CLongNumber::kMaxWords), 0u);
  CLongNumber h = Hex("123456789ABCDEF0");
  EXPECT_EQ(h.Length(), 2u);
  EXPECT_EQ(h.Word(0), 0x9ABCDEF0u);
  EXPECT_EQ(h.Word(1), 0x12345678u);
}

TEST(LongNumberText, DecimalAndHexRoundTrip) {
  CLongNumber a = Hex(kA);
  EXPECT_EQ(a.BitLength(), 793u);
  EXPECT_EQ(a.Length(), 25u);
  EXPECT_EQ(a.ToText(16), kA);
  EXPECT_EQ(a.ToText(10), kADecimal);
  EXPECT_EQ(Dec(kADecimal), a);
  EXPECT_EQ(a.ToText(8).size(), 265u);
  EXPECT_EQ(a.ToText(8).substr(0, 10), "1312564547");
  EXPECT_EQ(Dec("255").ToText(2), "11111111");
  EXPECT_EQ(Dec("4294967295").ToText(16), "FFFFFFFF");
}

TEST(LongNumberText, HexDigitsInEitherCase) {
  EXPECT_EQ(Hex("abcdef"), Hex("ABCDEF"));
  EXPECT_EQ(Hex("aBcDeF").ToText(10), "11259375");
  EXPECT_EQ(Hex("ff").ToText(16), "FF");  // output digits are upper case
}

TEST(LongNumberText, ForeignCharactersCountAsZero) {
  EXPECT_EQ(Dec("12x4").ToText(10), "1204");
  EXPECT_EQ(Dec(" 12").ToText(10), "12");
  EXPECT_EQ(Dec("-5").ToText(10), "5");
  EXPECT_EQ(Dec("1,000").ToText(10), "10000");
  EXPECT_EQ(Hex("1G").ToText(16), "10");
  EXPECT_EQ(Hex("zz").ToText(16), "0");
  // Letter digits keep their value whatever the base.
  EXPECT_EQ(Dec("A").ToText(10), "10");
  EXPECT_EQ(Dec("1A").ToText(10), "20");
}

TEST(LongNumberText, FromBytesIsBigEndian) {
  EXPECT_TRUE(CLongNumber().FromBytes("").IsZero());
  EXPECT_EQ(CLongNumber().FromBytes("A").ToText(10), "65");
  EXPECT_EQ(CLongNumber().FromBytes("1700000000").ToText(16), "31373030303030303030");
  EXPECT_EQ(CLongNumber().FromBytes(std::string("\x00\x01", 2)).ToText(16), "1");
  EXPECT_EQ(CLongNumber().FromBytes("\xFF\x80").ToText(16), "FF80");  // bytes are unsigned
}

TEST(LongNumberText, UnsupportedBaseGivesEmptyText) {
  CLongNumber n = Dec("12345");
  EXPECT_EQ(n.ToText(0), "");
  EXPECT_EQ(n.ToText(1), "");
  EXPECT_EQ(n.ToText(17), "");
  EXPECT_EQ(n.ToText(2), "11000000111001");
}

// --- arithmetic -----------------------------------------------------------------------

TEST(LongNumberArithmetic, ProductMatchesReference) {
  CLongNumber a = Hex(kA), b = Dec(kB);
  EXPECT_EQ((a * b).ToText(16), kAB);
  EXPECT_EQ(b * a, a * b);
  EXPECT_EQ(a * CLongNumber(1), a);
  EXPECT_TRUE((a * CLongNumber()).IsZero());
  EXPECT_EQ((a * CLongNumber()).Length(), 1u);
  EXPECT_FALSE((a * b).Overflowed());
}

TEST(LongNumberArithmetic, DivisionUndoesMultiplication) {
  CLongNumber a = Hex(kA), b = Dec(kB), c = Dec(kC);
  CLongNumber ab = a * b;
  EXPECT_EQ(ab / b, a);
  EXPECT_EQ(ab / a, b);
  EXPECT_TRUE((ab % b).IsZero());
  EXPECT_TRUE((ab % a).IsZero());
  CLongNumber abc = ab + c;  // c < b
  EXPECT_EQ(abc / b, a);
  EXPECT_EQ(abc % b, c);
}

TEST(LongNumberArithmetic, QuotientAndRemainderMatchReference) {
  CLongNumber a = Hex(kA), b = Dec(kB);
  EXPECT_EQ((a / b).ToText(16),
            "2CABA59C0AC7EEC09C870A6DD517A30E2F51A83748966C00FF8E37FDDBF1BB5B644C0EB3F86F7E277C"
            "E3B175902E3929BA707316D34FE1130E27469FB4B5CC8AF1FA4B7");
  EXPECT_EQ((a % b).ToText(16), "199F62CC75EE1C629E8EBD649B75F33774F2A598DA43204575A754C0373316A6");
  EXPECT_EQ((a / b) * b + a % b, a);
  EXPECT_TRUE((b / a).IsZero());
  EXPECT_EQ(b % a, b);
  EXPECT_EQ(a / a, CLongNumber(1));
  EXPECT_TRUE((a % a).IsZero());
}

TEST(LongNumberArithmetic, ThirtyTwoBitOperands) {
  CLongNumber a = Hex(kA);
  EXPECT_EQ((a % 1000000007u).ToText(10), "224796996");
  EXPECT_EQ((a / 1000000007u).ToText(16),
            "5FEDDD54E26701ED3DA9FADE1FCA0C42E6E51F7C13B8C2D47A3F48462FB11C82EBA8BDC0D911BCFDD96"
            "75AC2B0EC5CEACC81C180A0081D7569F88B66A45833D3928048F3311FFC8088E15854B08735246E8EF"
            "99EE94A2781E1667B5E27D268B");
  EXPECT_EQ((a % 0xFFFFFFFFu).ToText(10), "2589983571");
  EXPECT_EQ((a / 0xFFFFFFFFu) * 0xFFFFFFFFu + (a % 0xFFFFFFFFu), a);
  EXPECT_EQ(a / 1u, a);
  EXPECT_TRUE((a % 1u).IsZero());
  EXPECT_EQ(a * 1000000007u, a * CLongNumber(1000000007u));
  EXPECT_EQ((a * 1000000007u) / 1000000007u, a);
  EXPECT_EQ(a + 1u, a + CLongNumber(1));
  EXPECT_EQ((CLongNumber(0xFFFFFFFFu) + 1u).ToText(16), "100000000");
  EXPECT_EQ((CLongNumber(0xFFFFFFFFu) * 0xFFFFFFFFu).ToText(16), "FFFFFFFE00000001");
}

TEST(LongNumberArithmetic, CarryRunsThroughEveryWord) {
  CLongNumber almost = Hex(std::string(279, 'F'));  // 2**1116 - 1
  CLongNumber next = almost + 1u;
  EXPECT_EQ(next.Length(), 35u);
  EXPECT_EQ(next.Word(34), 0x10000000u);
  for (uint32_t i = 0; i < 34; ++i) EXPECT_EQ(next.Word(i), 0u) << i;
  EXPECT_FALSE(next.Overflowed());
  EXPECT_EQ(next / CLongNumber(16), Hex("1" + std::string(278, '0')));
}

TEST(LongNumberArithmetic, Comparison) {
  CLongNumber a = Hex(kA), b = Dec(kB);
  EXPECT_LT(b.Compare(a), 0);
  EXPECT_GT(a.Compare(b), 0);
  EXPECT_EQ(a.Compare(a), 0);
  EXPECT_TRUE(b < a);
  EXPECT_FALSE(a < b);
  EXPECT_TRUE(Hex("100000000") != Hex("FFFFFFFF"));
  EXPECT_TRUE(Hex("FFFFFFFF") < Hex("100000000"));
}

// --- limits: overflow and division by zero --------------------------------------------

TEST(LongNumberLimits, LargestValueFitsExactly) {
  CLongNumber max = Hex(kMax);
  EXPECT_FALSE(max.Overflowed());
  EXPECT_EQ(max.Length(), 35u);
  EXPECT_EQ(max.BitLength(), 1120u);
  EXPECT_EQ(max.ToText(16), kMax);
  EXPECT_FALSE((max + CLongNumber()).Overflowed());
  EXPECT_FALSE((max * 1u).Overflowed());
  EXPECT_EQ(CLongNumber().FromBytes(std::string(140, '\xFF')), max);
  EXPECT_FALSE(CLongNumber().FromBytes(std::string(140, '\xFF')).Overflowed());
}

TEST(LongNumberLimits, SumBeyondCapacityWrapsAndIsMarked) {
  CLongNumber max = Hex(kMax);
  CLongNumber wrapped = max + 1u;
  EXPECT_TRUE(wrapped.Overflowed());
  EXPECT_TRUE(wrapped.IsZero());
  EXPECT_EQ(wrapped.Length(), 1u);
  CLongNumber twice = max + max;  // 2**1121 - 2 keeps its low 1120 bits
  EXPECT_TRUE(twice.Overflowed());
  EXPECT_EQ(twice.ToText(16), std::string(279, 'F') + "E");
}

TEST(LongNumberLimits, ProductBeyondCapacityKeepsLowWordsAndIsMarked) {
  CLongNumber max = Hex(kMax);
  CLongNumber square = max * max;  // (2**k - 1)**2 = 1 mod 2**k
  EXPECT_TRUE(square.Overflowed());
  EXPECT_EQ(square, CLongNumber(1));
  CLongNumber half = Hex("1" + std::string(140, '0'));  // 2**560
  EXPECT_TRUE((half * half).Overflowed());
  EXPECT_TRUE((half * half).IsZero());
  CLongNumber top = (half / 2u) * half;  // 2**1119 still fits
  EXPECT_FALSE(top.Overflowed());
  EXPECT_EQ(top.Word(34), 0x80000000u);
  EXPECT_TRUE((max * 2u).Overflowed());
  EXPECT_EQ((max * 2u).Word(0), 0xFFFFFFFEu);
}

TEST(LongNumberLimits, OverlongTextIsTruncatedAndMarked) {
  CLongNumber hex = Hex("1" + kMax);
  EXPECT_TRUE(hex.Overflowed());
  EXPECT_EQ(hex, Hex(kMax));
  EXPECT_TRUE(CLongNumber().FromBytes(std::string(141, 'x')).Overflowed());
  EXPECT_EQ(CLongNumber().FromBytes(std::string(141, 'x')),
            CLongNumber().FromBytes(std::string(140, 'x')));
  // Setting anew clears the mark.
  EXPECT_FALSE(hex.FromText("12", 10).Overflowed());
  EXPECT_EQ(hex.ToText(10), "12");
}

TEST(LongNumberLimits, MarkIsSticky) {
  CLongNumber wrapped = Hex(kMax) + 1u;
  EXPECT_TRUE((wrapped + 1u).Overflowed());
  EXPECT_TRUE((wrapped * CLongNumber(3)).Overflowed());
  EXPECT_TRUE((wrapped / 3u).Overflowed());
  EXPECT_TRUE((wrapped % 3u).Overflowed());
  EXPECT_TRUE((CLongNumber(7) / (wrapped + 5u)).Overflowed());
  EXPECT_TRUE((Dec(kB) % (wrapped + 5u)).Overflowed());
  EXPECT_TRUE(Dec(kB).PowMod(wrapped + 3u, Dec("1000")).Overflowed());
  EXPECT_EQ((wrapped + 1u).ToText(10), "1");
}

TEST(LongNumberLimits, DivisionByZeroGivesZeroAndKeepsDividend) {
  CLongNumber a = Hex(kA);
  CLongNumber zero;
  EXPECT_TRUE((a / zero).IsZero());
  EXPECT_TRUE((a / zero).Overflowed());
  EXPECT_EQ(a % zero, a);
  EXPECT_TRUE((a % zero).Overflowed());
  EXPECT_TRUE((a / 0u).IsZero());
  EXPECT_TRUE((a / 0u).Overflowed());
  EXPECT_EQ(a % 0u, a);
  EXPECT_TRUE((a % 0u).Overflowed());
  EXPECT_TRUE((zero / zero).IsZero());
  EXPECT_TRUE((zero % 0u).Overflowed());
  // A valid divisor leaves no mark.
  EXPECT_FALSE((a / 3u).Overflowed());
  EXPECT_FALSE((a % Dec(kB)).Overflowed());
}

// --- modular power --------------------------------------------------------------------

TEST(LongNumberPowMod, SmallValues) {
  EXPECT_EQ(Dec("65").PowMod(Dec("17"), Dec("3233")).ToText(10), "2790");
  EXPECT_EQ(Dec("2790").PowMod(Dec("2753"), Dec("3233")).ToText(10), "65");
  EXPECT_EQ(Dec("123456789").PowMod(Dec("987654321"), Dec("1000000007")).ToText(10), "652541198");
  EXPECT_EQ(Dec("5").PowMod(Dec("1"), Dec("7")).ToText(10), "5");
  EXPECT_EQ(Dec("5").PowMod(Dec("2"), Dec("7")).ToText(10), "4");
  EXPECT_EQ(Dec("5").PowMod(Dec("3"), Dec("7")).ToText(10), "6");
}

TEST(LongNumberPowMod, EdgeExponentsAndModuli) {
  EXPECT_EQ(Dec("5").PowMod(CLongNumber(), Dec("7")), CLongNumber(1));
  EXPECT_TRUE(Dec("5").PowMod(CLongNumber(), Dec("1")).IsZero());
  EXPECT_TRUE(Dec("5").PowMod(Dec("3"), Dec("1")).IsZero());
  EXPECT_TRUE(CLongNumber().PowMod(Dec("3"), Dec("7")).IsZero());
  EXPECT_EQ(Dec("12").PowMod(Dec("1"), Dec("7")).ToText(10), "5");  // base above the modulus
  CLongNumber byZero = Dec("5").PowMod(Dec("3"), CLongNumber());
  EXPECT_TRUE(byZero.IsZero());
  EXPECT_TRUE(byZero.Overflowed());
  EXPECT_FALSE(Dec("5").PowMod(Dec("3"), Dec("7")).Overflowed());
}

TEST(LongNumberPowMod, LargeValuesMatchReference) {
  CLongNumber a = Hex(kA), c = Dec(kC);
  EXPECT_EQ(a.PowMod(c, Dec(kStampModulus)).ToText(16),
            "BB1178A6B3A93F833C7E99FE61562F2C9025DC722B0C1C4B4B95750B913836");
  // A 521-bit modulus: products of 1042 bits, near the top of the capacity.
  CLongNumber m521 = Hex("1" + std::string(130, 'F'));
  EXPECT_EQ(m521.BitLength(), 521u);
  CLongNumber r = a.PowMod(c, m521);
  EXPECT_FALSE(r.Overflowed());
  EXPECT_EQ(r.ToText(16),
            "1BD49C1B3004904BFD9FDF093B7A8C3ABE6F3E12C856B3B1AB7F85441DD414B5539CEBBFC7B686F1F"
            "E7F165E7E565505EBC50AE2F11D22BA0532E2138F4E8702BA8");
}

TEST(LongNumberPowMod, FermatHoldsForPrimeModulus) {
  CLongNumber p = Dec(kB);  // 2**255 - 19 is prime
  CLongNumber pMinus1 = p / 2u * 2u;  // p is odd
  EXPECT_EQ(Dec("3").PowMod(pMinus1, p), CLongNumber(1));
  EXPECT_EQ(Hex(kA).PowMod(pMinus1, p), CLongNumber(1));
  EXPECT_EQ(Hex(kA).PowMod(p, p), Hex(kA) % p);
}

// --- the stamp ------------------------------------------------------------------------

TEST(StampKey, BuiltInKeyHasTheDesignedSize) {
  EXPECT_EQ(std::string(kStampModulus).size(), 75u);
  EXPECT_EQ(std::string(kStampExponent).size(), 20u);
  CLongNumber n = Dec(kStampModulus);
  EXPECT_EQ(n.BitLength(), 248u);
  EXPECT_EQ(n.ToText(10), kStampModulus);
  EXPECT_EQ(Dec(kStampExponent).ToText(10), kStampExponent);
  // The longest designed text (30 bytes) stays below the modulus.
  EXPECT_TRUE(CLongNumber().FromBytes(std::string(30, '\x7F')) < n);
}

TEST(StampCoder, TimeTextsMatchReference) {
  const struct {
    const char* text;
    const char* stamp;
  } kVectors[] = {
      {"1700000000", "b12234ec1400c5f757d38767c4ea33dcb48bf5bf51071387621f2d3d9c8cd"},
      {"1234567890", "bec3d3cfac505bdf3ce2becddc3c9f051e3dc6b78404477e58926612250993"},
      {"0000000000", "2390431506b3795e277e85f9f71fc74132205d64cc44765403037e4f8f7f45"},
      {"9999999999", "6d52736859a11021932648c06b3a9a7a013a2896a78ef77bf4562197a5a271"},
      {"1712345678", "4d65bd19ba49003b0c77940e1e169ac6df665913e5c77d6a929d8ef265713a"},
      {"4102444800", "7b6480db05f9f1800646ac747fdaf60c8d4616cd6e1a5f519adef0ae22e57b"},
      {"7", "9bf5bb109df04a61354352d6b08065d15d7ff996ea7547d80e9fdfe07315c4"},
      {"123456789012345678901234567890",
       "57a31bda4d5b1a73353b03fc8a48c1a6f562364343e15364725e1dded36d2f"},
  };
  for (const auto& v : kVectors) EXPECT_EQ(CStampCoder::Encode(v.text), v.stamp) << v.text;
}

TEST(StampCoder, EmptyTextGivesZero) {
  EXPECT_EQ(CStampCoder::Encode(""), "0");
  EXPECT_EQ(CStampCoder::Encode("", "3233", "17"), "0");
}

TEST(StampCoder, LowerCaseWithoutLeadingZeros) {
  const std::string s1 = CStampCoder::Encode("1700000000");
  const std::string s2 = CStampCoder::Encode("1234567890");
  for (const std::string& s : {s1, s2}) {
    ASSERT_FALSE(s.empty());
    EXPECT_NE(s[0], '0') << s;
    for (char ch : s) EXPECT_TRUE((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f')) << s;
  }
  // The length follows the value, so it varies between requests.
  EXPECT_EQ(s1.size(), 61u);
  EXPECT_EQ(s2.size(), 62u);
}

TEST(StampCoder, ExplicitKeyFollowsTheSameRules) {
  EXPECT_EQ(CStampCoder::Encode("A", "3233", "17"), "ae6");  // 65**17 mod 3233 = 2790
  EXPECT_EQ(CStampCoder::Encode("A", "32x3", "17"), "841");  // key text "32x3" is 3203
  EXPECT_EQ(CStampCoder::Encode("A", kStampModulus, kStampExponent), CStampCoder::Encode("A"));
}

TEST(StampCoder, PrivateExponentRecoversTheText) {
  const CLongNumber n = Dec(kStampModulus);
  const CLongNumber d = Dec(kStampPrivateExponent);
  for (const char* text : {"1700000000", "1234567890", "0000000000", "9999999999", "7",
                           "123456789012345678901234567890"}) {
    const std::string stamp = CStampCoder::Encode(text);
    const CLongNumber s = Hex(stamp);
    EXPECT_TRUE(s < n) << text;
    const CLongNumber m = s.PowMod(d, n);
    EXPECT_FALSE(m.Overflowed());
    EXPECT_EQ(m, CLongNumber().FromBytes(text)) << text;
  }
}

TEST(StampCoder, DifferentTimesGiveDifferentStamps) {
  EXPECT_NE(CStampCoder::Encode("1700000000"), CStampCoder::Encode("1700000001"));
  EXPECT_EQ(CStampCoder::Encode("1700000000"), CStampCoder::Encode("1700000000"));
}

}  // namespace
