#pragma once
// The signatures of the library as the checker uses them: the list handed out by the
// library, cut at its first empty entry, and the matcher built from it, rebuilt only when
// the library hands out a different list.
#include <string>
#include <vector>

#include "webguard/signature_matcher.h"

// Size of the pointer array the library fills.
constexpr int kSignatureSlots = 100000;

// Entries 0 .. count-1 (count clamped to the array), up to the first null or empty entry.
std::vector<std::string> EffectiveSignatures(const char* const* entries, int count);

class CSignatureSet {
 public:
  // Takes the library's current list; true when it differed and the matcher was rebuilt.
  // A rebuild that fails (a list beyond the matcher's limits, or no memory) keeps the previous
  // list and matcher working, and is tried again with the next list handed out.
  bool Update(const char* const* entries, int count);
  bool Matches(const std::string& content) const {
    return m_matcher.Matches(content.data(), content.size());
  }
  const std::vector<std::string>& Signatures() const { return m_signatures; }
  const CSignatureMatcher& Matcher() const { return m_matcher; }
  void SetByteLimit(size_t limit) { m_matcher.SetByteLimit(limit); }

 private:
  bool SameAs(const char* const* entries, int count) const;

  bool m_bBuilt = false;
  std::vector<std::string> m_signatures;
  CSignatureMatcher m_matcher;
};
