#pragma once
// Finds whether any of a set of signatures occurs in a text. A match counts only when it
// begins at a character start of GBK text (see gbk_text.h), so a signature never matches from
// the second byte of a double-byte character.
//
// A few signatures of 3 bytes and more (signature_few.h: kMaxSignatures) are all found by a
// fingerprint test of every position. Otherwise signatures of 8 bytes and more go through a gram
// filter (signature_filter.h), or, when they are that few, the fingerprint test; shorter ones
// through their rarest bytes (signature_short.h), so a few short signatures do not slow the
// whole set down; a set whose short signatures need too many key bytes goes through the filter
// alone when every signature has a few bytes. Other sets, and the rest of any text on which the
// filter or the key bytes would verify too much, go through an Aho-Corasick automaton, so no
// text costs more than linear time. The automaton of a filtered set is built the first time a
// text needs it, so one matcher serves one thread at a time.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "webguard/gbk_text.h"
#include "webguard/signature_automaton.h"
#include "webguard/signature_few.h"
#include "webguard/signature_filter.h"
#include "webguard/signature_short.h"

class CSignatureMatcher {
 public:
  // Work the filter may spend per text before the automaton takes over: this many
  // verifications plus one per byte.
  static constexpr size_t kDefaultWorkAllowance = 1 << 16;
  // Signatures may hold this many bytes in all; a larger set is refused.
  static constexpr size_t kDefaultByteLimit = size_t{16} << 20;

  // Empty signatures are ignored here; the caller has already cut the list at the first one.
  // false, leaving the matcher as it was, when the set is larger than the byte limit or memory
  // runs out.
  bool Build(const std::vector<std::string>& signatures);
  bool Matches(const char* text, size_t size) const;
  // Tells the sink of the signatures occurring in the text (at character starts by the rule;
  // a signature may be told several times) until it stops the scan; true when it did.
  // Signatures are numbered by their position in the list built from, empty ones left out.
  bool Scan(const char* text, size_t size, CharStarts rule, IMatchSink& sink) const;
  // Builds the automaton now if it is built only on need (to measure all the memory in use).
  void BuildAutomaton() const { Automaton(); }
  bool Empty() const { return m_maxLength == 0; }
  // The longest signature: a text read in pieces must carry this many bytes less one across.
  size_t MaxLength() const { return m_maxLength; }
  size_t MemoryBytes() const;

  void SetWorkAllowance(size_t allowance) { m_workAllowance = allowance; }
  size_t WorkAllowance() const { return m_workAllowance; }
  void SetByteLimit(size_t limit) { m_byteLimit = limit; }
  size_t ByteLimit() const { return m_byteLimit; }

 private:
  // The automaton of a filtered set, built on first need; null when memory ran out.
  const CSignatureAutomaton* Automaton() const;

  bool m_bFiltered = false;  // the filter holds the (long) signatures
  bool m_bShort = false;     // m_short holds the short ones
  size_t m_count = 0;
  size_t m_maxLength = 0;
  std::vector<uint32_t> m_filterIds;  // with m_bShort: the number of the filter's signature i
  CShortSignatures m_short;
  size_t m_workAllowance = kDefaultWorkAllowance;
  size_t m_byteLimit = kDefaultByteLimit;
  CSignatureFilter m_filter;
  CFewSignatures m_few;  // instead of the filter, for a few signatures
  mutable std::unique_ptr<CSignatureAutomaton> m_pAutomaton;
};

// Feeds a text to a matcher in pieces; a signature that straddles two pieces is found as in
// the whole text.
class CMatchStream {
 public:
  explicit CMatchStream(const CSignatureMatcher& matcher) : m_matcher(matcher) {}
  // Adds the next piece; true once a signature has been found (later pieces need not come).
  bool Feed(const char* data, size_t size);
  bool Found() const { return m_bFound; }

 private:
  const CSignatureMatcher& m_matcher;
  std::string m_buffer;  // the carried end of the text so far, from a character start
  bool m_bFound = false;
};

// Where a text read in pieces may be cut after a scan: keeping from there keeps the last keep
// bytes (at least one) and starts at a character start by the rule.
size_t CarryFrom(const unsigned char* text, size_t size, size_t keep, CharStarts rule);

// The plain reference: one search per signature, in list order.
bool OccursAtCharStart(const char* text, size_t size, const std::string& signature);
bool AnySignatureOccurs(const char* text, size_t size, const std::vector<std::string>& signatures);
