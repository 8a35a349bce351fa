#pragma once
// The library's list as the checker applies it. An entry is either
//   - a plain signature: a literal, byte-exact substring of the text, at a character start; or
//   - an extended one: 0x01 <flags> 0x02 <part> [0x02 <part> ...], which matches when every
//     part occurs in the same file (anywhere, any order). Flags are ASCII letters; with 'N' the
//     parts are matched against the normalised view (text_normaliser.h) at any byte, stored
//     normalised by the same function; with "W<window>" the parts must occur in their order, each
//     within the window after the one before (checked once all have occurred). 1 to 8 non-empty parts.
// An extended entry with an unknown flag, no part, an empty part (also once normalised) or more
// than kMaxParts parts never matches; it does not end the list.
//
// Every plain signature and every part of a view go into one matcher for that view, so a text
// costs one pass per view (the normalised one only when some entry asks for it). Short parts
// (fewer than kLongPart bytes) of a conjunction that also has a long part are deferred: ordinary
// code is full of them, so they are looked for only in a file where the conjunction's long parts
// all occur, in its text kept so far (or, in a file too large to keep, in every piece), and
// where a few conjunctions are so wanted, only if one's rarest short part occurs there. A view
// whose parts are few enough to be all looked for at every position defers none.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "webguard/signature_matcher.h"
#include "webguard/text_normaliser.h"

constexpr char kExtendedMark = '\x01';
constexpr char kPartMark = '\x02';
constexpr char kNormalisedFlag = 'N';
constexpr size_t kMaxParts = 8;
constexpr size_t kLongPart = 8;
// Flag 'W' with a window of 1 to kMaxWindow bytes: the parts occur in their order, each beginning
// at most that many bytes after the end of the one before ("W300").
constexpr char kOrderedFlag = 'W';
constexpr size_t kMaxWindow = 65535;
// Flag 'S' with a size of 1 to kMaxGate bytes: the entry holds only in a file of at most that many
// bytes ("S600": one-liners, whose short sink and source pairs are ordinary in large code).
constexpr char kSizeFlag = 'S';
constexpr size_t kMaxGate = 1000000;

struct CExtendedSignature {
  bool bNormalised = false;
  size_t window = 0;  // 0: the parts in any order, anywhere
  size_t sizeGate = 0;  // 0: a file of any size
  std::vector<std::string> parts;  // as written (N parts not yet normalised)
};

// Whether parts occur in text in their order, each beginning at most window bytes after the end
// of the one before. Linear in the text for each part (at most kMaxOccurrences of a part are
// taken, from the first).
constexpr size_t kMaxOccurrences = 4096;
bool OccurInOrder(const char* text, size_t size, const std::vector<std::string>& parts, size_t window);

// false when the entry is not a well-formed extended signature.
bool ParseExtendedSignature(const std::string& entry, CExtendedSignature* signature);

class CSignatureRules {
 public:
  enum View { kRaw, kNormalised, kViews };

  // The entries as handed out, already cut at the first empty one. false, leaving the rules as
  // they were, when a view's matcher refuses its set (byte limit) or memory runs out.
  bool Build(const std::vector<std::string>& entries);
  // Limit of each view's matcher.
  void SetByteLimit(size_t limit);
  // Filter work per text before the automaton takes over (see CSignatureMatcher), for tests.
  void SetWorkAllowance(size_t allowance);
  const CSignatureMatcher& Matcher(View view) const { return m_views[view].sets[kPrimary].matcher; }
  // Entries that can match (malformed extended ones left out).
  size_t UsableEntries() const { return m_usable; }
  // Builds every automaton the matchers would build on need, then counts all memory held.
  size_t MemoryBytesWithAutomata() const;

 private:
  friend class CSignatureScan;
  // Each distinct signature or part of a view is one matcher signature; its uses say what
  // finding it means: kPlainUse (the file is suspicious) or conjunction * 8 + part.
  static constexpr uint32_t kPlainUse = ~0u;
  enum Set { kPrimary, kDeferred, kSets };
  struct CSet {
    CSignatureMatcher matcher;
    std::vector<uint32_t> useStart;  // uses of signature i: uses[useStart[i] .. useStart[i + 1])
    std::vector<uint32_t> uses;
  };
  struct CView {
    CSet sets[kSets];
  };

  CView m_views[kViews];
  // Whether a conjunction's rarest deferred part occurs in text (as bytes, anywhere).
  bool ProbeOccurs(uint32_t conjunction, const char* text, size_t size) const;

  static constexpr uint32_t kNoProbe = ~0u;
  // Whether an ordered or gated conjunction complete in the view's kept text holds in a file of
  // fileSize bytes.
  bool Holds(uint32_t conjunction, const char* text, size_t size, uint64_t fileSize) const;
  struct COrdered {
    size_t window = 0;
    size_t sizeGate = 0;
    std::vector<std::string> parts;  // as matched
  };
  static constexpr uint32_t kUnordered = ~0u;
  std::vector<uint32_t> m_order;     // per conjunction: its entry in m_ordered, or kUnordered
  std::vector<COrdered> m_ordered;
  bool m_bOrdered[kViews] = {};      // the view has ordered conjunctions (its text is kept)
  std::vector<uint8_t> m_required;  // per conjunction: the bits of all its parts
  std::vector<uint8_t> m_primary;   // per conjunction: the bits of its parts not deferred
  std::vector<uint32_t> m_probe;    // per conjunction: its rarest deferred part in m_probeParts
  std::vector<std::string> m_probeParts;
  size_t m_usable = 0;
};

// A few small numbers kept by number, in a table that grows from nothing: what one file's scan
// remembers (most files need none of it, and a list may hold 100,000 entries).
class CSparseBytes {
 public:
  // The value kept for key (0 when none); key must be below 0xFFFFFFFF.
  uint8_t& operator[](uint32_t key);
  // Forgets every key and keeps the table for the next file.
  void Clear();

 private:
  std::vector<uint32_t> m_keys;  // key + 1; 0: free
  std::vector<uint8_t> m_values;
  size_t m_used = 0;
};

// The check of one file against the rules: the text is fed in pieces (a signature or part that
// straddles pieces is found as in the whole text) and goes through every view at once.
// rawStarts: where plain signatures and raw parts may begin; kGbk for the text as the checker
// reads it, kEveryByte for other forms of the file (UTF-8 text, raw bytes).
// One scan may check file after file (Restart between them): its buffers and tables are kept,
// so a file costs no allocation once the scan has seen a file as large.
class CSignatureScan {
 public:
  explicit CSignatureScan(const CSignatureRules& rules, CharStarts rawStarts = CharStarts::kGbk);
  // Ready for the next file, as if new (the rules may have been rebuilt since).
  void Restart();
  // Adds the next piece; true once an entry has matched (later pieces need not come).
  bool Feed(const char* data, size_t size);
  // The end of the text (the normalised view holds back a few bytes until then): the answer.
  bool Finish();
  bool Found() const { return m_bFound; }

 private:
  // Text kept for the deferred parts before it is scanned for them all the same.
  static constexpr size_t kKeptLimit = size_t{4} << 20;
  // Buffers larger than this are released by Restart rather than kept for the next file.
  static constexpr size_t kHeldCapacity = size_t{3} << 20;

  class CSink : public IMatchSink {
   public:
    CSink(CSignatureScan& scan, CSignatureRules::View view, CSignatureRules::Set set)
        : m_scan(scan), m_view(view), m_set(set) {}
    bool OnMatch(uint32_t signature) override { return m_scan.Found(m_view, m_set, signature); }

   private:
    CSignatureScan& m_scan;
    CSignatureRules::View m_view;
    CSignatureRules::Set m_set;
  };

  bool Found(CSignatureRules::View view, CSignatureRules::Set set, uint32_t signature);
  // Scans text (its start is kept) with a set's matcher, then keeps only what a signature begun
  // at its end could still need.
  void ScanAndCarry(CSignatureRules::View view, CSignatureRules::Set set, std::string* text, CharStarts starts);
  void ScanRaw(const char* data, size_t size);
  // Keeps the next raw text for the deferred parts.
  void KeepRaw(const char* data, size_t size);
  // Scans what the normaliser has added to the view; the view itself is what is kept for the
  // deferred parts (no copy), cut to its end once they need it no longer.
  void ScanNormalised();
  CharStarts StartsOf(CSignatureRules::View view) const {
    return view == CSignatureRules::kRaw ? m_rawStarts : CharStarts::kEveryByte;
  }

  // The view's text is kept whole for its deferred parts or ordered conjunctions.
  bool KeepsView(CSignatureRules::View view) const;
  // The ordered conjunctions complete so far that are in order in the kept text (found then).
  void CheckOrder(CSignatureRules::View view, const char* kept, size_t size);

  const CSignatureRules& m_rules;
  CharStarts m_rawStarts;
  // Ordered conjunctions whose parts have all occurred, still to be seen in order.
  std::vector<uint32_t> m_complete[CSignatureRules::kViews];
  uint64_t m_fedBytes = 0;  // of the file so far
  bool m_bFound = false;
  bool m_bNormalised = false;  // the normalised view is needed
  std::string m_carriedRaw;  // the end of the raw text so far
  CViewBuffer m_view;        // the normalised view so far (or its end, see ScanNormalised)
  size_t m_normalisedScanned = 0;  // m_view before this has been scanned
  CTextNormaliser m_normaliser;
  CSparseBytes m_partsFound;  // per conjunction: the bits of the parts found
  CSparseBytes m_seen[CSignatureRules::kViews][CSignatureRules::kSets];  // per matcher signature already told: 1
  // The raw text kept for the deferred parts; once beyond kKeptLimit, only its end (m_bEveryPiece).
  std::string m_keptRaw;
  bool m_bEveryPiece[CSignatureRules::kViews] = {};
  // Conjunctions of the view whose long parts all occurred, up to kProbedWanted + 1 of them (some
  // conjunction is wanted when it is not empty).
  static constexpr size_t kProbedWanted = 8;
  std::vector<uint32_t> m_wanted[CSignatureRules::kViews];
};
