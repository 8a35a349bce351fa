#include "bench_signatures.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "webguard/script_text.h"
#include "webguard/signature_rules.h"
#include "webguard/text_normaliser.h"

namespace {

const char* const kShipped[] = {
#include "signatures.inc"
};

}  // namespace

std::vector<std::string> ShippedSignatures() {
  return std::vector<std::string>(std::begin(kShipped), std::end(kShipped));
}

std::vector<std::string> ShippedWithExtended() {
  std::vector<std::string> entries = ShippedSignatures();
  const std::vector<std::string> extended = ExtendedFromShipped(150);
  entries.insert(entries.end(), extended.begin(), extended.end());
  return entries;
}

bool ScanFile(CSignatureScan& scan, const char* text, size_t size) {
  scan.Restart();
  for (size_t at = 0; at < size; at += kReadPieceSize) {
    if (scan.Feed(text + at, std::min(kReadPieceSize, size - at))) return true;
  }
  return scan.Finish();
}

namespace {

std::string Extended(const char* flags, const std::vector<std::string>& parts) {
  std::string entry = std::string(1, kExtendedMark) + flags;
  for (const std::string& part : parts) entry += kPartMark + part;
  return entry;
}

}  // namespace

std::vector<std::string> ExtendedFromShipped(int count) {
  // Calls that ordinary code makes too: the part of a conjunction that its other part makes
  // telling, found (and remembered) in many ordinary files.
  const char* common[] = {"base64_decode(", "file_put_contents(", "$_POST[", "eval(", "php://input",
                          "fwrite(", "$_FILES[", "openssl_decrypt(", "preg_replace(", "chr("};
  std::vector<std::string> entries;
  const std::vector<std::string> shipped = ShippedSignatures();
  for (size_t i = 0; static_cast<int>(entries.size()) < count && i < shipped.size() * 3; ++i) {
    const std::string& s = shipped[i % shipped.size()];
    // Not one that normalises to a few bytes (a "<?php" padded with blanks reads "<?php",
    // which every PHP file holds).
    if (s.size() < 8 || s[0] == kExtendedMark || NormaliseText(s).size() < 8) continue;
    const std::string other = common[i % (sizeof common / sizeof common[0])];
    switch (entries.size() % 3) {
      case 0:
        entries.push_back(Extended("N", {s}));
        break;
      case 1:
        entries.push_back(Extended("", {s, other}));
        break;
      default:
        entries.push_back(Extended("N", {other, s}));
    }
  }
  return entries;
}

std::vector<std::string> SyntheticEntries(int count) {
  std::vector<std::string> entries = SyntheticSignatures(count);
  std::mt19937 random(9);
  const char* calls[] = {"Eval (", "Base64_Decode (", "ASSERT(", "System (", "Cipher.getInstance(", "Gzinflate("};
  for (size_t i = 0; i < entries.size(); i += 10) {
    // The next signature backwards: digits first, found in no other entry.
    const std::string& next = entries[i + 1 < entries.size() ? i + 1 : i];
    const std::string tail(next.rbegin(), next.rend());
    if (random() % 2) {
      // N: a call written loosely, then a tail; sometimes a second part.
      std::vector<std::string> parts = {std::string(calls[random() % 6]) + " " + entries[i]};
      if (random() % 2) parts.push_back(tail);
      entries[i] = Extended("N", parts);
    } else {
      std::vector<std::string> parts = {entries[i], tail};
      if (random() % 2) parts.push_back(calls[random() % 6]);
      entries[i] = Extended("", parts);
    }
  }
  return entries;
}

std::vector<std::string> SyntheticSignatures(int count) {
  std::mt19937 random(8);
  auto word = [&](int minLength, int maxLength, const char* letters) {
    std::string w(minLength + random() % (maxLength - minLength + 1), 'a');
    const size_t n = std::strlen(letters);
    for (char& c : w) c = letters[random() % n];
    return w;
  };
  // The generator first drew 600 words and 10,000,000 bytes of PHP-like text from the same
  // stream; they are drawn again (and dropped) so the set stays the one measured before.
  std::vector<std::string> words;
  for (int i = 0; i < 600; ++i) words.push_back(word(3, 10, "abcdefghijklmnopqrstuvwxyz"));
  const char* keywords[] = {"function", "return", "if (", "else", "foreach (", "array(",
                            "$this->", "echo ", "isset(", "public", "static", "new ",
                            "null", "$_GET[", "$_POST[", "include ", "=> ", "->", "::",
                            "eval(", "base64_decode(", "system(", "exec("};
  size_t produced = 0;
  while (produced < 10000000) {
    std::string line(4 * (random() % 4), ' ');
    const int tokens = 2 + random() % 9;
    for (int t = 0; t < tokens; ++t) {
      const unsigned pick = random() % 10;
      if (pick < 3) {
        line += keywords[random() % (sizeof keywords / sizeof keywords[0])];
      } else if (pick < 6) {
        line += "$" + words[random() % words.size()];
      } else {
        line += words[random() % words.size()];
      }
      line += ' ';
    }
    line += random() % 7 == 0 ? "// \xD6\xD0\xCE\xC4\xD7\xA2\xCA\xCD\n" : ";\n";
    produced += line.size();
  }

  const char* prefixes[] = {"eval(", "$_POST[", "base64_decode(", "<?php ", "function ",
                            "$this->", "array(", "echo ", "system(", "assert(", "gzinflate(",
                            "exec(", "$_GET[", "include ", "\xD6\xD0\xCE\xC4"};
  std::vector<std::string> signatures;
  while (static_cast<int>(signatures.size()) < count) {
    // Tails always hold a digit, which the generated code never does.
    std::string tail = word(4, 18, "abcdefghijklmnopqrstuvwxyz_") + word(1, 2, "0123456789");
    signatures.push_back(random() % 10 < 7 ? prefixes[random() % (sizeof prefixes / sizeof prefixes[0])] + tail
                                           : tail);
  }
  return signatures;
}
