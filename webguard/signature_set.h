#pragma once
// The signatures of the library as the checker uses them: the list handed out by the
// library, cut at its first empty entry, and the rules built from it (signature_rules.h),
// rebuilt only when the library hands out a different list.
#include <memory>
#include <string>
#include <vector>

#include "webguard/signature_rules.h"

// Size of the pointer array the library fills.
constexpr int kSignatureSlots = 100000;

// Entries 0 .. count-1 (count clamped to the array), up to the first null or empty entry.
std::vector<std::string> EffectiveSignatures(const char* const* entries, int count);

class CSignatureSet {
 public:
  // Takes the library's current list; true when it differed and the rules were rebuilt.
  // A rebuild that fails (a list beyond the matcher's limits, or no memory) keeps the previous
  // list and rules working, and is tried again with the next list handed out.
  bool Update(const char* const* entries, int count);
  // A whole text, every entry applied.
  bool Matches(const std::string& content) const;
  // The check of one file fed in pieces (see CSignatureScan).
  CSignatureScan NewScan(CharStarts rawStarts = CharStarts::kGbk) const { return CSignatureScan(m_rules, rawStarts); }
  const CSignatureRules& Rules() const { return m_rules; }
  const std::vector<std::string>& Signatures() const { return m_signatures; }
  // The plain signatures alone, in one matcher (built on first call when the list holds
  // extended entries).
  const CSignatureMatcher& Matcher() const;
  void SetByteLimit(size_t limit) { m_rules.SetByteLimit(limit); }

 private:
  bool SameAs(const char* const* entries, int count) const;

  bool m_bBuilt = false;
  std::vector<std::string> m_signatures;
  CSignatureRules m_rules;
  mutable std::unique_ptr<CSignatureMatcher> m_pPlainMatcher;
};
