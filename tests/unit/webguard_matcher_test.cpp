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

// Texts and signatures over few distinct bytes, lead-range ones among them, so that matches,
// near misses and matches inside double-byte characters are all frequent.
struct CRandomTexts {
  std::mt19937 random{20240714};
  std::string alphabet = "ab\\\xB0\xA1\x81";
  std::string Text(size_t minLength, size_t maxLength) {
    std::string s(minLength + random() % (maxLength - minLength + 1), 'a');
    for (char& c : s) c = alphabet[random() % alphabet.size()];
    return s;
  }
};

// The matcher's answer for the whole text, and fed in random pieces, against the reference.
void ExpectSameAnswers(const std::vector<std::string>& signatures, size_t shortest, size_t longest,
                       size_t textLength, size_t workAllowance, int rounds) {
  CRandomTexts gen;
  int matched = 0;
  for (int round = 0; round < rounds; ++round) {
    std::vector<std::string> set = signatures;
    const int count = 1 + static_cast<int>(gen.random() % 12);
    for (int i = 0; i < count; ++i) set.push_back(gen.Text(shortest, longest));
    CSignatureMatcher matcher;
    ASSERT_TRUE(matcher.Build(set));
    matcher.SetWorkAllowance(workAllowance);
    std::string content = gen.Text(0, textLength);
    // Mostly one of the signatures spliced in, often with a byte changed: matches, near misses
    // and matches that begin inside a double-byte character.
    if (gen.random() % 5 != 0) {
      std::string s = set[gen.random() % set.size()];
      if (gen.random() % 2) s[gen.random() % s.size()] = gen.alphabet[gen.random() % gen.alphabet.size()];
      content.insert(gen.random() % (content.size() + 1), s);
    }
    const bool expected = AnySignatureOccurs(content.data(), content.size(), set);
    matched += expected;
    ASSERT_EQ(expected, matcher.Matches(content.data(), content.size())) << "round " << round;
    CMatchStream stream(matcher);
    for (size_t at = 0; at < content.size();) {
      const size_t piece = std::min(content.size() - at, size_t{1} + gen.random() % 9);
      stream.Feed(content.data() + at, piece);
      at += piece;
    }
    ASSERT_EQ(expected, stream.Found()) << "pieces, round " << round;
  }
  // Both outcomes were exercised.
  EXPECT_GT(matched, rounds / 10);
  EXPECT_LT(matched, rounds * 9 / 10);
}

TEST(WebguardMatcher, EqualsPerSignatureSearchOnRandomInputs) {
  // Short signatures: the automaton alone.
  ExpectSameAnswers({}, 1, 6, 40, CSignatureMatcher::kDefaultWorkAllowance, 3000);
  // Four bytes and more: a few looked for at every position, and the window filter sampling
  // every 1 to 4 positions.
  for (const bool few : {true, false}) {
    UseFewSignatures(few);
    ExpectSameAnswers({}, 4, 9, 200, CSignatureMatcher::kDefaultWorkAllowance, 3000);
    ExpectSameAnswers({"abab\xB0\xA1\xB0"}, 7, 12, 400, CSignatureMatcher::kDefaultWorkAllowance, 2000);
    ExpectSameAnswers({}, 4, 9, 200, 0, 1000);
  }
  UseFewSignatures(true);
  // Short signatures over too many byte pairs for keys, beside long ones: the filter alone,
  // signatures of a single gram among them.
  CRandomTexts wide;
  wide.alphabet = "abcdefghijklmnopqrstuvwxyz\xB0\xA1";
  std::vector<std::string> mixed;
  for (int i = 0; i < 60; ++i) mixed.push_back(wide.Text(i % 2 ? 5 : 8, i % 2 ? 7 : 14));
  ExpectSameAnswers(mixed, 4, 12, 300, CSignatureMatcher::kDefaultWorkAllowance, 2000);
  ExpectSameAnswers(mixed, 4, 12, 300, 2, 1000);
  // Many signatures around one rare word, which their grams all take: its cells are looked up
  // by the bytes after it, before it, or (the word near the start of a short one) their own.
  std::vector<std::string> around;
  for (int i = 0; i < 60; ++i) {
    const bool after = i % 3 == 0, before = i % 3 == 1;
    around.push_back(wide.Text(before ? 4 : 0, before ? 6 : 3) + "#~{|}^" + wide.Text(after ? 4 : 0, after ? 9 : 3));
  }
  ExpectSameAnswers(around, 8, 12, 300, CSignatureMatcher::kDefaultWorkAllowance, 2000);
  ExpectSameAnswers(around, 8, 12, 300, 2, 500);
  // The filter giving up at once and anywhere: the automaton finishes from where it stopped.
  ExpectSameAnswers({}, 4, 9, 200, 0, 2000);
  ExpectSameAnswers({}, 5, 8, 400, 3, 2000);
}

TEST(WebguardMatcher, DegenerateTextHandsOverToTheAutomaton) {
  // Every position of the text carries the window of thousands of signatures that all fail
  // at their last byte; the filter stops verifying and the automaton answers in one pass.
  std::vector<std::string> signatures;
  for (int i = 0; i < 3000; ++i) signatures.push_back(std::string(5 + i % 40, 'a') + "b" + std::to_string(i));
  CSignatureMatcher matcher;
  ASSERT_TRUE(matcher.Build(signatures));
  std::string text(2000000, 'a');
  EXPECT_FALSE(matcher.Matches(text.data(), text.size()));
  text += "b17";
  EXPECT_TRUE(matcher.Matches(text.data(), text.size()));
}

TEST(WebguardMatcher, StreamCarriesDoubleByteCharactersAcrossPieces) {
  CSignatureMatcher matcher;
  ASSERT_TRUE(matcher.Build({"\xA1\xB0xyz", "bcd"}));
  auto feed = [&](std::initializer_list<std::string> pieces) {
    CMatchStream stream(matcher);
    for (const std::string& p : pieces) stream.Feed(p.data(), p.size());
    return stream.Found();
  };
  // B0 A1 | B0 78...: the signature would start on a trail byte.
  EXPECT_FALSE(feed({"\xB0", "\xA1\xB0xyz"}));
  EXPECT_TRUE(feed({"\xB0\xA1", "\xA1\xB0xyz"}));
  // A lead byte ending a piece pairs with the next piece's first byte.
  EXPECT_FALSE(feed({"a\x81", "bcd"}));
  EXPECT_TRUE(feed({"a\x81", "xbcd"}));
}

TEST(WebguardMatcher, OversizedSetIsRefusedAndThePreviousKept) {
  CSignatureMatcher matcher;
  matcher.SetByteLimit(10);
  ASSERT_TRUE(matcher.Build({"alpha", "beta"}));
  EXPECT_FALSE(matcher.Build({"gamma", "delta!"}));
  EXPECT_TRUE(matcher.Matches("xalphax", 7));
  EXPECT_FALSE(matcher.Matches("gamma", 5));
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
