// The one-pass signature matcher against the plain per-signature search, and the signature
// list rules of the library.
#include <gtest/gtest.h>

#include <random>

#include "webguard/signature_matcher.h"
#include "webguard/signature_set.h"

namespace {

bool OnePass(const std::string& text, const std::vector<std::string>& signatures) {
  CSignatureMatcher matcher;
  matcher.Build(signatures);
  return matcher.Matches(text.data(), text.size());
}

TEST(WebguardMatcher, GbkCharacterBoundaries) {
  const std::string twoChars = "\xB0\xA1\xB0\xA1";  // two double-byte characters
  EXPECT_TRUE(OnePass(twoChars, {"\xB0\xA1"}));
  EXPECT_FALSE(OnePass(twoChars, {"\xA1\xB0"}));  // would start on a trail byte
  EXPECT_FALSE(OnePass(twoChars, {"\xA1"}));
  // An ASCII-looking trail byte is part of its character.
  EXPECT_FALSE(OnePass("\x81" "a", {"a"}));
  EXPECT_TRUE(OnePass("\x81" "ab", {"b"}));
  // A lead byte as the last byte is a character of its own.
  EXPECT_TRUE(OnePass("x\x81", {"\x81"}));
  // An odd run of lead-range bytes: the pairs are (B0 B0)(B0 B0)(B0 61).
  EXPECT_FALSE(OnePass("\xB0\xB0\xB0\xB0\xB0" "a", {"a"}));
  EXPECT_TRUE(OnePass("\xB0\xB0\xB0\xB0" "a", {"a"}));
}

TEST(WebguardMatcher, ShorterSignatureAtBoundaryCountsWhenLongerStartsInsideCharacter) {
  // "abc" would start on the trail byte of (B0 61); "bc" ends at the same place and starts at a
  // character start.
  EXPECT_TRUE(OnePass("\xB0" "abc", {"abc", "bc"}));
  EXPECT_FALSE(OnePass("\xB0" "abc", {"abc", "ab"}));
}

TEST(WebguardMatcher, OverlappingAndNestedSignatures) {
  const std::vector<std::string> words = {"he", "she", "his", "hers"};
  EXPECT_TRUE(OnePass("ushers", words));
  EXPECT_TRUE(OnePass("xhix his", words));
  EXPECT_FALSE(OnePass("xhix hi", words));
  EXPECT_TRUE(OnePass("aaab", {"aab", "aaaa"}));
  EXPECT_FALSE(OnePass("aaa", {"aaaa", "aab", "b"}));
  EXPECT_FALSE(OnePass("", {"a"}));
  EXPECT_FALSE(OnePass("abc", {}));
  EXPECT_TRUE(OnePass("eval($_POST[x])", {"eval($_POST[", "eval($_POST[x]"}));
}

TEST(WebguardMatcher, EqualsPerSignatureSearchOnRandomInputs) {
  // Few distinct bytes, lead-range ones among them, so that matches, near misses and
  // misaligned matches are all frequent.
  const std::string alphabet = "ab\\\xB0\xA1\x81";
  std::mt19937 random(20240714);
  auto text = [&](size_t maxLength) {
    std::string s(random() % (maxLength + 1), 'a');
    for (char& c : s) c = alphabet[random() % alphabet.size()];
    return s;
  };
  int matched = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> signatures;
    const int count = 1 + static_cast<int>(random() % 12);
    for (int i = 0; i < count; ++i) {
      std::string s = text(6);
      if (s.empty()) s = "a";
      signatures.push_back(s);
    }
    const std::string content = text(40);
    const bool expected = AnySignatureOccurs(content.data(), content.size(), signatures);
    matched += expected;
    ASSERT_EQ(expected, OnePass(content, signatures)) << "round " << round;
  }
  // Both outcomes were exercised.
  EXPECT_GT(matched, 300);
  EXPECT_LT(matched, 2700);
}

TEST(WebguardMatcher, OneMatcherChecksManyTexts) {
  CSignatureMatcher matcher;
  matcher.Build({"assert(", "\xD6\xD0\xCE\xC4"});  // "中文"
  const std::string texts[] = {"x=assert($a)", "assert", "\xB0\xD6\xD0\xCE\xC4",
                               "\xD6\xD0\xCE\xC4!"};
  const bool expected[] = {true, false, false, true};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(expected[i], matcher.Matches(texts[i].data(), texts[i].size()));
}

TEST(WebguardSignatureList, FirstEmptyOrNullEntryEndsTheList) {
  const char* entries[] = {"one", "two", "", "three"};
  EXPECT_EQ((std::vector<std::string>{"one", "two"}), EffectiveSignatures(entries, 4));
  const char* withNull[] = {"one", nullptr, "three"};
  EXPECT_EQ(std::vector<std::string>{"one"}, EffectiveSignatures(withNull, 3));
  EXPECT_EQ(std::vector<std::string>{"one"}, EffectiveSignatures(entries, 1));
  EXPECT_TRUE(EffectiveSignatures(entries, -5).empty());
}

TEST(WebguardSignatureList, CountBeyondTheArrayIsClamped) {
  std::vector<const char*> entries(kSignatureSlots, "x");
  EXPECT_EQ(static_cast<size_t>(kSignatureSlots),
            EffectiveSignatures(entries.data(), kSignatureSlots + 50).size());
}

TEST(WebguardSignatureList, MatcherIsRebuiltOnlyWhenTheListChanges) {
  char first[] = "abc";
  const char* entries[] = {first, "def", nullptr};
  CSignatureSet set;
  EXPECT_TRUE(set.Update(entries, 2));
  EXPECT_TRUE(set.Matches("xxdef"));
  EXPECT_FALSE(set.Update(entries, 2));
  EXPECT_FALSE(set.Update(entries, 3));  // the null entry ends the list either way
  first[2] = 'x';  // same pointer, new text
  EXPECT_TRUE(set.Update(entries, 2));
  EXPECT_TRUE(set.Matches("abx"));
  EXPECT_FALSE(set.Matches("abc"));
  EXPECT_TRUE(set.Update(entries, 1));  // shorter list
  EXPECT_FALSE(set.Matches("def"));
}

}  // namespace
