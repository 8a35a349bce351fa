// The normalised view, the extended entries of the signature library (conjunctions, flag N)
// and the scan of one file, against simple references: the whole text normalised by a naive
// function, then each signature and part searched for on its own.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "webguard/signature_few.h"
#include "webguard/signature_filter.h"
#include "webguard/signature_rules.h"
#include "webguard/signature_set.h"
#include "webguard/text_normaliser.h"

namespace {

// The rules read literally: comments first, then capitals and blanks, then joins left to right.
// fragment: the text is a signature's part (a "#" or "//" at its start is text).
std::string NaiveNormalise(const std::string& text, bool fragment = false) {
  const size_t reach = CTextNormaliser::kCommentReach;
  const std::string notBeforeSlashes = ":\"'\\/*";
  std::string folded;
  bool lineComment = false;
  for (size_t i = 0; i < text.size();) {
    if (lineComment) {
      if (text[i] == '\n' || (text.compare(i, 2, "?>") == 0 || text.compare(i, 2, "%>") == 0)) {
        lineComment = false;
      } else {
        ++i;
        continue;
      }
    }
    if (text.compare(i, 2, "/*") == 0) {
      const size_t close = text.find("*/", i + 2);
      if (close != std::string::npos && close + 2 - (i + 2) <= reach) {
        i = close + 2;
        continue;
      }
    }
    if (text.compare(i, 2, "//") == 0) {
      const char before = i > 0 ? text[i - 1] : fragment ? ':' : '\n';
      if (notBeforeSlashes.find(before) == std::string::npos) {
        lineComment = true;
        i += 2;
        continue;
      }
    }
    if (text[i] == '#') {
      bool opens = false;
      for (size_t k = 1; k <= CTextNormaliser::kLookBack; ++k) {
        if (k > i) {
          opens = !fragment;
          break;
        }
        const char b = text[i - k];
        if (b == 0 || std::strchr("\t\v\f\r ", b)) continue;
        opens = std::strchr("\n;{}", b) != nullptr;
        break;
      }
      if (opens) {
        lineComment = true;
        ++i;
        continue;
      }
    }
    const char c = text[i++];
    if (c == 0 || std::strchr(" \t\n\v\f\r", c)) continue;
    folded += c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  }
  std::string view;
  for (size_t i = 0; i < folded.size();) {
    const char c = folded[i];
    if ((c == '"' || c == '\'') && i + 2 < folded.size() && folded[i + 2] == c && std::strchr(".+&", folded[i + 1])) {
      i += 3;
      continue;
    }
    view += c;
    ++i;
  }
  return view;
}

std::string InPieces(const std::string& text, const std::vector<size_t>& cuts) {
  CTextNormaliser normaliser;
  std::string view;
  size_t at = 0;
  for (size_t cut : cuts) {
    normaliser.Feed(text.data() + at, cut - at, &view);
    at = cut;
  }
  normaliser.Feed(text.data() + at, text.size() - at, &view);
  normaliser.Finish(&view);
  return view;
}

TEST(TextNormaliser, FoldsLettersAndDropsBlanks) {
  EXPECT_EQ("eval($_post['x']);", NormaliseText(std::string("EvAl ( $_POST\t[\r\n'x' ]\v\f)\0;", 27)));
  // Bytes of double-byte text are kept (a trail byte in A..Z is folded like any byte).
  EXPECT_EQ("\xD6\xD0\xCE\xC4" "a\xB0" "a", NormaliseText("\xD6\xD0 \xCE\xC4" "A\xB0" "A"));
}

TEST(TextNormaliser, DropsCommentsThatCloseWithinReach) {
  const size_t reach = CTextNormaliser::kCommentReach;
  EXPECT_EQ("ab", NormaliseText("a/* note */b"));
  EXPECT_EQ("ab", NormaliseText("a/**/b"));
  EXPECT_EQ("a/*/b", NormaliseText("a/*/b"));  // the opening's star does not close it
  EXPECT_EQ("a/*b", NormaliseText("a/*b"));
  // The "*/" ends exactly at the reach after the opening: dropped; one byte more: kept as text.
  const std::string within = "a/*" + std::string(reach - 2, 'x') + "*/b";
  EXPECT_EQ("ab", NormaliseText(within));
  const std::string beyond = "a/*" + std::string(reach - 1, 'X') + "*/b";
  EXPECT_EQ("a/*" + std::string(reach - 1, 'x') + "*/b", NormaliseText(beyond));
  // Behind a kept opening, a later comment within reach is dropped as usual.
  EXPECT_EQ("a/*" + std::string(reach + 50, 'x') + "bc", NormaliseText("a/*" + std::string(reach + 50, 'x') + "b/* c */c"));
  // Concatenation across a comment.
  EXPECT_EQ("\"assert\"", NormaliseText("\"as\" /* x */ . \"sert\""));
}

TEST(TextNormaliser, DropsLineCommentsWhereTheyCannotBeText) {
  const struct {
    const char* text;
    const char* view;
  } cases[] = {
      {"eval( // note\n$_POST['x']);", "eval($_post['x']);"},
      {"eval(# note\n$_POST['x']);", "eval(#note$_post['x']);"},  // "#" after "(": text
      {"x;\n  # note ) ;\n$_POST[1]", "x;$_post[1]"},
      {"# first line\nA", "a"},
      {"a; # note\nb", "a;b"},
      {"{#c\n}", "{}"},
      {"$u = 'http://a/b' . $c;", "$u='http://a/b'.$c;"},
      {"x = \"//cdn/x.js\"; y", "x=\"//cdn/x.js\";y"},
      {"s = '\\//';", "s='\\//';"},
      {"/*c*///d", "//d"},  // after the "*/", its slash: "//" is text
      {"<?php // x ?><?php eval($_POST[1]);", "<?php?><?phpeval($_post[1]);"},
      {"<% // x %><% Execute(a)", "<%%><%execute(a)"},
      {"\"as\" // c\n . \"sert\"", "\"assert\""},
      {"color: #fff;", "color:#fff;"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.view, NormaliseText(c.text)) << c.text;
  // A part of a signature is a fragment: its first "#" or "//" is text.
  EXPECT_EQ("#.*#e", NormalisePart("#.*#e"));
  EXPECT_EQ("//x", NormalisePart("//x"));
  EXPECT_EQ("a", NormalisePart("a // b"));
}

TEST(TextNormaliser, JoinsConcatenationWithEachQuoteAndOperator) {
  for (const char* quote : {"\"", "'"}) {
    for (const char* op : {".", "+", "&"}) {
      const std::string q = quote;
      EXPECT_EQ(q + "assert" + q, NormaliseText(q + "As" + q + " " + op + "\n " + q + "sERT" + q)) << quote << op;
    }
  }
  EXPECT_EQ("\"abc\"", NormaliseText("\"a\".\"b\".\"c\""));
  EXPECT_EQ("\"a\".'b'", NormaliseText("\"a\" . 'b'"));  // different quotes
  EXPECT_EQ("\"a\"-\"b\"", NormaliseText("\"a\"-\"b\""));
  EXPECT_EQ(".\"", NormaliseText("\".\".\""));  // left to right: the first three go
  EXPECT_EQ("x=\"\"", NormaliseText("x = \"\" . \"\""));
}

TEST(TextNormaliser, PiecesCutAtEveryByteGiveTheWholeTextsView) {
  const std::string texts[] = {
      "$a = \"ev\" . 'a' . \"l\"; /* c */ EVAL/**/(\"x\" +\n\"y\"); // \xB0\xA1",
      "q'.'/**/'r\" & /" + std::string(CTextNormaliser::kCommentReach - 6, '*') + "/z",
      "/*" + std::string(CTextNormaliser::kCommentReach - 3, ' ') + "*/*/x/",
      "a;\n # c ?> //\nd //e?\n%>f",
  };
  for (const std::string& text : texts) {
    const std::string expected = NaiveNormalise(text);
    ASSERT_EQ(expected, NormaliseText(text));
    for (size_t cut = 0; cut <= text.size(); ++cut) ASSERT_EQ(expected, InPieces(text, {cut})) << cut;
    for (size_t cut = 0; cut + 1 <= text.size(); ++cut) ASSERT_EQ(expected, InPieces(text, {cut, cut + 1})) << cut;
  }
}

TEST(TextNormaliser, EqualsTheNaiveRulesOnRandomTextsInRandomPieces) {
  // Comments everywhere; or none, so that long runs go a block at a time. Every method this
  // processor offers (AVX2, SSSE3, SSE2, byte by byte) gives the naive view.
  const std::string alphabets[] = {"aB \n/*/*\"'.+&-\xB0#;?>:", "aaaaBBOPZ@[`{  \t\n\r\x0B\x0C\x0E\x08\"'.+&-/\xB0#%>"};
  const NormaliserBlocks methods[] = {NormaliserBlocks::kAvx2, NormaliserBlocks::kSsse3, NormaliserBlocks::kSse2,
                                      NormaliserBlocks::kBytes};
  for (NormaliserBlocks method : methods) {
    if (method > WidestNormaliserBlocks()) continue;
    UseNormaliserBlocks(method);
    std::mt19937 random(25);
    for (int round = 0; round < 3000; ++round) {
      const std::string& alphabet = alphabets[round % 2];
      std::string text(random() % 700, 'a');
      for (char& c : text) c = alphabet[random() % alphabet.size()];
      // Long stretches without a closing, so that both sides of the reach are met.
      if (random() % 2) {
        text.insert(random() % (text.size() + 1), std::string(CTextNormaliser::kCommentReach - 100 + random() % 200, 'x'));
      }
      std::vector<size_t> cuts;
      for (size_t at = random() % 40; at < text.size(); at += 1 + random() % 300) cuts.push_back(at);
      const std::string view = InPieces(text, cuts);
      if (view != NaiveNormalise(text)) UseNormaliserBlocks(NormaliserBlocks::kAvx2);
      ASSERT_EQ(NaiveNormalise(text), view) << "method " << static_cast<int>(method) << ", round " << round;
    }
  }
  UseNormaliserBlocks(NormaliserBlocks::kAvx2);
}

// The library's list as the library hands it out.
bool ScanWhole(const std::vector<std::string>& entries, const std::string& text,
               CharStarts starts = CharStarts::kGbk) {
  CSignatureRules rules;
  EXPECT_TRUE(rules.Build(entries));
  CSignatureScan scan(rules, starts);
  scan.Feed(text.data(), text.size());
  return scan.Finish();
}

std::string Entry(const std::string& flags, const std::vector<std::string>& parts) {
  std::string entry = kExtendedMark + flags;
  for (const std::string& part : parts) entry += kPartMark + part;
  return entry;
}

TEST(SignatureRules, ConjunctionNeedsEveryPartInItsView) {
  const std::vector<std::string> raw = {Entry("", {"openssl_decrypt(", "php://input"})};
  EXPECT_TRUE(ScanWhole(raw, "x php://input y openssl_decrypt(z"));
  EXPECT_FALSE(ScanWhole(raw, "x php://input y"));
  EXPECT_FALSE(ScanWhole(raw, "OpenSSL_Decrypt( php://input"));  // raw: no folding
  const std::vector<std::string> normalised = {Entry("N", {"Cipher.getInstance(\"AES\")", "defineClass("})};
  EXPECT_TRUE(ScanWhole(normalised, "c = CIPHER . getinstance ( \"A\"+\"ES\" );\n x.defineclass (b)"));
  EXPECT_FALSE(ScanWhole(normalised, "c = cipher.getInstance(\"AES\");"));
  // Raw parts begin at character starts like plain signatures; with every byte a start, anywhere.
  const std::vector<std::string> trail = {Entry("", {"\xA1" "ab", "cd"})};
  EXPECT_FALSE(ScanWhole(trail, "\xB0\xA1" "ab cd"));
  EXPECT_TRUE(ScanWhole(trail, "\xB0\xA1" "ab cd", CharStarts::kEveryByte));
  EXPECT_FALSE(ScanWhole({"\xA1" "a"}, "\xB0\xA1" "a"));
  EXPECT_TRUE(ScanWhole({"\xA1" "a"}, "\xB0\xA1" "a", CharStarts::kEveryByte));
  // The normalised view has no character starts.
  EXPECT_TRUE(ScanWhole({Entry("N", {"\xA1" "ab"})}, "\xB0\xA1" "AB"));
  // A part given twice counts once found.
  EXPECT_TRUE(ScanWhole({Entry("", {"abc", "abc"})}, "abc"));
}

TEST(SignatureRules, PartsFarApartInDifferentPiecesAreCombined) {
  CSignatureRules rules;
  ASSERT_TRUE(rules.Build({Entry("", {"first_part", "second_part"}), Entry("N", {"eval(", "$_post["}), "plainsig"}));
  auto feed = [&](const std::vector<std::string>& pieces) {
    CSignatureScan scan(rules);
    for (const std::string& p : pieces) scan.Feed(p.data(), p.size());
    return scan.Finish();
  };
  const std::string filler(5000, 'z');
  EXPECT_TRUE(feed({"first_p", "art" + filler, filler + "second_part"}));
  EXPECT_FALSE(feed({"first_part" + filler, filler}));
  EXPECT_TRUE(feed({"EV", "AL /* x */ (", filler, "$_PO", "ST ["}));
  EXPECT_FALSE(feed({"EVAL(", filler, "$_GET["}));
  EXPECT_TRUE(feed({"plain", "sig"}));
}

void ShortPartsAreFoundBeforeAndAfterLongOnes(const CSignatureRules& rules);

TEST(SignatureRules, ShortPartsBesideLongOnesAreFoundBeforeAndAfterThemInLargeFiles) {
  // So few parts are all looked for at every position; without that path the short ones wait
  // for the long ones.
  for (const bool few : {true, false}) {
    UseFewSignatures(few);
    CSignatureRules rules;
    ASSERT_TRUE(rules.Build({Entry("", {"long_part_here", "$_x"}), Entry("N", {"Request.BinaryRead(", "xor"})}));
    ShortPartsAreFoundBeforeAndAfterLongOnes(rules);
  }
  UseFewSignatures(true);
}

void ShortPartsAreFoundBeforeAndAfterLongOnes(const CSignatureRules& rules) {
  auto feed = [&](const std::vector<std::string>& pieces) {
    CSignatureScan scan(rules);
    for (const std::string& p : pieces) {
      for (size_t at = 0; at < p.size(); at += 1 << 20) scan.Feed(p.data() + at, std::min<size_t>(1 << 20, p.size() - at));
    }
    return scan.Finish();
  };
  // Beyond the text kept for short parts (a few megabytes) and within it.
  for (size_t filler : {size_t{1000}, size_t{6} << 20}) {
    const std::string z(filler, 'z');
    EXPECT_TRUE(feed({"$_x", z, "long_part_here"})) << filler;
    EXPECT_TRUE(feed({"long_part_here", z, "$_x"})) << filler;
    EXPECT_FALSE(feed({"$_y", z, "long_part_here"})) << filler;
    EXPECT_FALSE(feed({"$_x", z, "long_part_her"})) << filler;
    EXPECT_TRUE(feed({"X", "OR", z, "request . binaryRead ("})) << filler;
    EXPECT_FALSE(feed({"XO", z, "request . binaryRead ("})) << filler;
    EXPECT_TRUE(feed({"Request.Binary", "Read(", z, "x", "OR"})) << filler;
    EXPECT_FALSE(feed({"Request.BinaryRead(", z, "x", "OB"})) << filler;
  }
}

TEST(SignatureRules, OrderedPartsFollowEachOtherWithinTheirWindow) {
  const std::vector<std::string> list = {Entry("NW10", {"eval(", "$_post[", "])"})};
  const struct {
    const char* text;
    bool found;
  } cases[] = {
      {"eval( // alias\n $_POST['x'])", true},
      {"eval(trim($_POST['x']))", true},
      {"eval(base64_decode($_POST['x']))", false},  // 14 bytes between
      {"$_POST['x']; eval(1)])", false},            // out of order
      // An early first part too far away, a later one near: found.
      {"eval(" "0123456789012345" "eval($_POST[1])", true},
      // The second part near the first only once, the third near only another second part.
      {"eval($_post[0]xxxxxxxxxxxxxxxxxxxx $_POST[1])", false},
  };
  for (const auto& c : cases) {
    const std::string text = c.text;
    EXPECT_EQ(c.found, ScanWhole(list, text)) << c.text;
    CSignatureRules rules;
    ASSERT_TRUE(rules.Build(list));
    CSignatureScan pieces(rules);
    for (char ch : text) pieces.Feed(&ch, 1);
    EXPECT_EQ(c.found, pieces.Finish()) << "in pieces: " << c.text;
  }
  // Raw parts in order too; a window flag without a number, of 0 or beyond the limit, or twice,
  // never matches.
  EXPECT_TRUE(ScanWhole({Entry("W5", {"exec(", "getParameter"})}, "r.exec(req.getParameter(\"c\"))"));
  EXPECT_FALSE(ScanWhole({Entry("W5", {"getParameter", "exec("})}, "r.exec(req.getParameter(\"c\"))"));
  for (const char* flags : {"W", "W0", "W65536", "W5W5", "NW1x"}) {
    EXPECT_FALSE(ScanWhole({Entry(flags, {"eval(", "$_post["})}, "eval($_post[1])")) << flags;
  }
  EXPECT_TRUE(OccurInOrder("abcab", 5, {"ab", "ab"}, 1));
  EXPECT_FALSE(OccurInOrder("abab", 4, {"ab", "ab", "ab"}, 3));
}

TEST(SignatureRules, GatedEntriesHoldOnlyInSmallFiles) {
  const std::vector<std::string> list = {Entry("NS40", {"$_post['", "assert"})};
  const std::string line = "<?php assert($_POST['x']);";
  EXPECT_TRUE(ScanWhole(list, line));
  EXPECT_TRUE(ScanWhole(list, line + std::string(40 - line.size(), ' ')));  // 40 bytes: still
  EXPECT_FALSE(ScanWhole(list, line + std::string(41 - line.size(), ' ')));
  // Counted over every piece fed, the parts found in the first.
  CSignatureRules rules;
  ASSERT_TRUE(rules.Build(list));
  CSignatureScan scan(rules);
  scan.Feed(line.data(), line.size());
  scan.Feed(std::string(100, ' ').data(), 100);
  EXPECT_FALSE(scan.Finish());
  scan.Restart();
  scan.Feed(line.data(), line.size());
  EXPECT_TRUE(scan.Finish());
  // With a window as well: both must hold.
  EXPECT_TRUE(ScanWhole({Entry("NW3S100", {"assert(", "$_post['"})}, line));
  EXPECT_FALSE(ScanWhole({Entry("NW3S100", {"$_post['", "assert("})}, line));
  for (const char* flags : {"S", "S0", "S1000001", "S5S5"}) {
    EXPECT_FALSE(ScanWhole({Entry(flags, {"assert(", "$_POST['"})}, line)) << flags;
  }
}

TEST(SignatureRules, MalformedExtendedEntriesNeverMatchAndDoNotEndTheList) {
  const std::string text = "alpha beta gamma";
  const std::vector<std::string> malformed = {
      Entry("X", {"alpha"}),                                          // unknown flag
      Entry("n", {"alpha"}),                                          // flags are case-sensitive
      std::string(1, kExtendedMark) + "N",                             // no part
      std::string(1, kExtendedMark),                                   // nothing at all
      Entry("", {"alpha", ""}),                                       // an empty part
      Entry("N", {"alpha", " /* */ "}),                               // a part empty once normalised
      Entry("", {"a", "l", "p", "h", "a", "b", "e", "t", "g"}),       // nine parts
  };
  for (const std::string& entry : malformed) {
    CSignatureRules rules;
    ASSERT_TRUE(rules.Build({entry, "gamma"}));
    EXPECT_EQ(1u, rules.UsableEntries());
    EXPECT_FALSE(ScanWhole({entry}, text)) << entry;
    EXPECT_TRUE(ScanWhole({entry, "gamma"}, text)) << entry;
  }
  EXPECT_TRUE(ScanWhole({Entry("", {"a", "l", "p", "h", "b", "e", "t", "g"})}, text));  // eight parts
  EXPECT_TRUE(ScanWhole({Entry("NN", {"ALPHA"})}, text));
}

TEST(SignatureRules, TheEmptyEntryEndsTheList) {
  const std::string conjunction = Entry("N", {"alpha", "beta"});
  const char* entries[] = {"nothing", conjunction.c_str(), "", "gamma"};
  CSignatureSet set;
  ASSERT_TRUE(set.Update(entries, 4));
  EXPECT_TRUE(set.Matches("ALPHA; beta"));
  EXPECT_FALSE(set.Matches("gamma"));
  EXPECT_EQ(2u, set.Signatures().size());
  // The plain matcher knows the plain signatures only.
  EXPECT_FALSE(set.Matcher().Matches("alpha beta", 10));
  EXPECT_TRUE(set.Matcher().Matches("nothing", 7));
}

// Random lists of thousands of entries (plain, raw and N conjunctions), every signature and
// part 8 bytes or more, against the reference: each entry searched for on its own.
struct CRandomList {
  std::mt19937 random{2025};
  std::string alphabet = "abcdAB \"'.\xB0\xA1\x81/*";
  std::string Text(size_t minLength, size_t maxLength) {
    std::string s(minLength + random() % (maxLength - minLength + 1), 'a');
    for (char& c : s) c = alphabet[random() % alphabet.size()];
    return s;
  }
};

bool ReferenceMatches(const std::vector<std::string>& entries, const std::string& text) {
  const std::string view = NaiveNormalise(text);
  for (const std::string& entry : entries) {
    if (entry[0] != kExtendedMark) {
      if (OccursAtCharStart(text.data(), text.size(), entry)) return true;
      continue;
    }
    CExtendedSignature extended;
    if (!ParseExtendedSignature(entry, &extended)) continue;
    bool all = true;
    for (const std::string& part : extended.parts) {
      if (extended.bNormalised) {
        const std::string normalised = NaiveNormalise(part, true);
        all &= !normalised.empty() && view.find(normalised) != std::string::npos;
      } else {
        all &= OccursAtCharStart(text.data(), text.size(), part);
      }
    }
    if (all) return true;
  }
  return false;
}

// With shortEvery, every so many signatures and parts are short (3 to 7 bytes, one of them a
// byte the random text never holds), which the matcher keys by their rarest bytes.
void ExpectSameAnswersOnLargeLists(size_t count, size_t shortest, size_t workAllowance, int rounds,
                                   size_t shortEvery = 0, size_t textLength = 300, const std::string& alphabet = "") {
  CRandomList gen;
  if (!alphabet.empty()) gen.alphabet = alphabet;
  std::vector<std::string> entries;
  const std::string rare = "`|~^0123456789";
  auto text = [&](size_t i) {
    if (shortEvery == 0 || i % shortEvery != 0) return gen.Text(shortest, shortest + 12);
    std::string s = gen.Text(2, 6);
    s.insert(gen.random() % (s.size() + 1), 1, rare[gen.random() % rare.size()]);
    return s;
  };
  for (size_t i = 0; i < count; ++i) {
    const unsigned kind = gen.random() % 4;
    if (kind < 2) {
      entries.push_back(text(i));
    } else {
      std::vector<std::string> parts;
      for (unsigned k = 0, n = 1 + gen.random() % 3; k < n; ++k) parts.push_back(text(i + k));
      // An N part cut short by a line comment would match nearly every text.
      for (std::string& part : parts) {
        for (size_t at; kind == 3 && (at = part.find("//")) != std::string::npos;) part[at + 1] = 'a';
      }
      entries.push_back(Entry(kind == 2 ? "" : "N", parts));
    }
  }
  CSignatureRules rules;
  rules.SetWorkAllowance(workAllowance);
  ASSERT_TRUE(rules.Build(entries));
  // One scan restarted for each text, as the checker uses it (left found or half fed by the
  // text before).
  CSignatureScan reused(rules);
  int matched = 0;
  for (int round = 0; round < rounds; ++round) {
    std::string text = gen.Text(0, textLength);
    // A signature or some parts of an entry spliced in, often changed by a byte; N parts with
    // blanks, capitals or comments put into them.
    const std::string& entry = entries[gen.random() % entries.size()];
    CExtendedSignature extended;
    std::vector<std::string> pieces = ParseExtendedSignature(entry, &extended) ? extended.parts
                                                                                 : std::vector<std::string>{entry};
    for (std::string& p : pieces) {
      if (gen.random() % 4 == 0) continue;
      if (gen.random() % 3 == 0) p[gen.random() % p.size()] = gen.alphabet[gen.random() % gen.alphabet.size()];
      if (extended.bNormalised && gen.random() % 2) p.insert(gen.random() % (p.size() + 1), gen.random() % 2 ? " /**/\n" : "\t");
      text.insert(gen.random() % (text.size() + 1), p);
    }
    const bool expected = ReferenceMatches(entries, text);
    matched += expected;
    CSignatureScan whole(rules);
    whole.Feed(text.data(), text.size());
    ASSERT_EQ(expected, whole.Finish()) << "round " << round;
    CSignatureScan stream(rules);
    for (size_t at = 0; at < text.size();) {
      const size_t piece = std::min(text.size() - at, size_t{1} + gen.random() % 8);
      stream.Feed(text.data() + at, piece);
      at += piece;
    }
    ASSERT_EQ(expected, stream.Finish()) << "pieces, round " << round;
    reused.Restart();
    for (size_t at = 0; at < text.size() && !reused.Found();) {
      const size_t piece = std::min(text.size() - at, size_t{1} + gen.random() % 64);
      reused.Feed(text.data() + at, piece);
      at += piece;
    }
    // Sometimes left unfinished: the next Restart must forget it all the same.
    if (gen.random() % 5 == 0) continue;
    ASSERT_EQ(expected, reused.Finish()) << "reused scan, round " << round;
  }
  EXPECT_GT(matched, rounds / 10);
  EXPECT_LT(matched, rounds * 9 / 10);
}

TEST(SignatureRules, EqualPerEntrySearchOnLargeLists) {
  // The bitmap sizes up to 1,024 grams and 16,384, the 2 MB one beyond, and the strides of
  // signatures of 8 bytes and more (5 to 8).
  ExpectSameAnswersOnLargeLists(100, 8, CSignatureMatcher::kDefaultWorkAllowance, 500);
  ExpectSameAnswersOnLargeLists(1500, 9, CSignatureMatcher::kDefaultWorkAllowance, 300);
  ExpectSameAnswersOnLargeLists(5000, 10, CSignatureMatcher::kDefaultWorkAllowance, 200);
  ExpectSameAnswersOnLargeLists(12000, 11, CSignatureMatcher::kDefaultWorkAllowance, 100);
  // The strides sampled with displacements fixed at compile time: 5 with both bitmaps, 2; their
  // samples hashed with and without the rotate.
  for (const bool rotate : {true, false}) {
    UseRotatedSamples(rotate);
    ExpectSameAnswersOnLargeLists(1500, 8, CSignatureMatcher::kDefaultWorkAllowance, 100);
    ExpectSameAnswersOnLargeLists(6000, 8, CSignatureMatcher::kDefaultWorkAllowance, 100);
    ExpectSameAnswersOnLargeLists(12000, 5, CSignatureMatcher::kDefaultWorkAllowance, 100);
  }
  UseRotatedSamples(true);
  // The 2 MB bitmap with more grams than fifteen letters can make, over texts of several blocks
  // of samples: every stage a block passes through on its way to the walk.
  const std::string wide = "abcdefghijklmnopqrstuvwxyzAB \"'.\xB0\xA1\x81/*0123";
  ExpectSameAnswersOnLargeLists(12000, 11, CSignatureMatcher::kDefaultWorkAllowance, 24, 0, 1500, wide);
  ExpectSameAnswersOnLargeLists(12000, 11, 0, 10, 0, 1500, wide);
  // The filter handing over to the automaton at once.
  ExpectSameAnswersOnLargeLists(3000, 8, 0, 150);
  // Short signatures and parts among long ones: keyed by a few rare bytes, or by the bytes that
  // key the most of them when the rare ones are too many; and handing over to the automaton.
  ExpectSameAnswersOnLargeLists(2000, 8, CSignatureMatcher::kDefaultWorkAllowance, 300, 40);
  ExpectSameAnswersOnLargeLists(2000, 8, 0, 150, 40);
  // The key pairs compared one by one instead of through nibble tables.
  UseShortPairTables(false);
  ExpectSameAnswersOnLargeLists(2000, 8, CSignatureMatcher::kDefaultWorkAllowance, 300, 40);
  UseShortPairTables(true);
}

}  // namespace
