#include "webguard/signature_matcher.h"

#include <algorithm>
#include <cstring>
#include <new>

bool CSignatureMatcher::Build(const std::vector<std::string>& signatures) {
  size_t bytes = 0, shortest = SIZE_MAX, longest = 0;
  for (const std::string& s : signatures) {
    if (s.empty()) continue;
    bytes += s.size();
    shortest = std::min(shortest, s.size());
    longest = std::max(longest, s.size());
  }
  if (bytes > m_byteLimit) return false;
  try {
    std::vector<std::string> kept, shortOnes, longOnes;
    std::vector<uint32_t> shortIds, longIds;
    kept.reserve(signatures.size());
    bool single = false;  // a one-byte signature: it has no pair to key it
    for (const std::string& s : signatures) {
      if (s.empty()) continue;
      const uint32_t id = static_cast<uint32_t>(kept.size());
      kept.push_back(s);
      single |= s.size() == 1;
      if (s.size() < CShortSignatures::kShortBelow) {
        shortOnes.push_back(s);
        shortIds.push_back(id);
      }
    }
    // Built aside and swapped in, so a failure leaves the previous matcher working.
    CShortSignatures shortSet;
    std::vector<size_t> unkeyed;
    CFewSignatures few;
    // A few signatures are all looked for at every position, short ones among them.
    const bool fewTakesAll = few.Build(kept);
    bool split = !fewTakesAll && !shortOnes.empty() && !single;
    if (split) {
      shortSet.Build(shortOnes, shortIds, &unkeyed);
      // Those no key pair took go to the filter with the long ones, which needs a few bytes;
      // worth it when the key pairs take them all, or spare the automaton the whole set.
      for (size_t i : unkeyed) split &= shortOnes[i].size() >= CSignatureFilter::kGram;
      split &= unkeyed.empty() || shortest < CSignatureFilter::kGram;
    }
    if (!split) shortSet = CShortSignatures();
    if (split) {
      std::vector<bool> inFilter(kept.size(), false);
      for (size_t i : unkeyed) inFilter[shortIds[i]] = true;
      for (uint32_t id = 0; id < kept.size(); ++id) {
        if (kept[id].size() < CShortSignatures::kShortBelow && !inFilter[id]) continue;
        longOnes.push_back(kept[id]);
        longIds.push_back(id);
      }
    }
    const bool filtered =
        fewTakesAll || (split ? !longOnes.empty() : !kept.empty() && shortest >= CSignatureFilter::kGram);
    CSignatureFilter filter;
    std::unique_ptr<CSignatureAutomaton> automaton;
    if (filtered && !fewTakesAll) {
      // A few long signatures beside the short ones are all looked for at every position; more
      // are sampled (the whole set was offered to that path above).
      if (!(split && few.Build(longOnes))) filter.Build(split ? longOnes : kept);
    } else if (!filtered && !split) {
      automaton = std::make_unique<CSignatureAutomaton>();
      automaton->Build(kept);
    }
    m_filter = std::move(filter);
    m_few = std::move(few);
    m_short = std::move(shortSet);
    m_filterIds = std::move(longIds);
    m_pAutomaton = std::move(automaton);
    m_bFiltered = filtered;
    m_bShort = split;
    m_count = kept.size();
    m_maxLength = longest;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

const CSignatureAutomaton* CSignatureMatcher::Automaton() const {
  if (!m_pAutomaton) {
    try {
      std::vector<std::string> all = m_few.Empty() ? m_filter.Signatures() : m_few.Signatures();
      if (m_bShort) {
        all.resize(m_count);
        for (size_t i = m_filterIds.size(); i-- > 0;) {
          if (m_filterIds[i] != i) all[m_filterIds[i]] = std::move(all[i]);
        }
        m_short.CopyTo(&all);
      }
      auto automaton = std::make_unique<CSignatureAutomaton>();
      automaton->Build(all);
      m_pAutomaton = std::move(automaton);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  return m_pAutomaton.get();
}

namespace {

class CFirstMatch : public IMatchSink {
 public:
  bool OnMatch(uint32_t) override { return true; }
};

// Tells the filter's findings under the matcher's numbers.
class CRenumberingSink : public IMatchSink {
 public:
  CRenumberingSink(IMatchSink& sink, const std::vector<uint32_t>& ids) : m_sink(sink), m_ids(ids) {}
  bool OnMatch(uint32_t signature) override { return m_sink.OnMatch(m_ids[signature]); }

 private:
  IMatchSink& m_sink;
  const std::vector<uint32_t>& m_ids;
};

}  // namespace

bool CSignatureMatcher::Matches(const char* text, size_t size) const {
  CFirstMatch first;
  return Scan(text, size, CharStarts::kGbk, first);
}

bool CSignatureMatcher::Scan(const char* text, size_t size, CharStarts rule, IMatchSink& sink) const {
  using Outcome = CSignatureFilter::Outcome;
  if (Empty() || size == 0) return false;
  if (!m_bFiltered && !m_bShort) return m_pAutomaton->Scan(text, size, rule, sink);
  // Each path looks at the whole text; where one gives up, the automaton finishes from there.
  size_t resume = size;
  CRenumberingSink renumbered(sink, m_filterIds);
  IMatchSink& filterSink = m_bShort ? static_cast<IMatchSink&>(renumbered) : sink;
  auto run = [&](size_t allowance) {
    size_t at = size;
    if (m_bShort) {
      const Outcome outcome = m_short.Scan(text, size, allowance, &at, rule, sink);
      if (outcome == Outcome::kMatch) return true;
      if (outcome == Outcome::kTooMuchWork) resume = std::min(resume, at);
    }
    if (m_bFiltered) {
      const Outcome outcome = m_few.Empty() ? m_filter.Scan(text, size, allowance, &at, rule, filterSink)
                                            : m_few.Scan(text, size, allowance, &at, rule, filterSink);
      if (outcome == Outcome::kMatch) return true;
      if (outcome == Outcome::kTooMuchWork) resume = std::min(resume, at);
    }
    return false;
  };
  if (run(m_workAllowance)) return true;
  if (resume == size) return false;
  if (const CSignatureAutomaton* automaton = Automaton()) return automaton->Scan(text + resume, size - resume, rule, sink);
  // Without memory for the automaton the paths go on, slowly but as exactly.
  return run(SIZE_MAX / 2);
}

size_t CSignatureMatcher::MemoryBytes() const {
  return m_filter.MemoryBytes() + m_few.MemoryBytes() + m_short.MemoryBytes() +
         m_filterIds.capacity() * sizeof(uint32_t) + (m_pAutomaton ? m_pAutomaton->MemoryBytes() : 0);
}

bool CMatchStream::Feed(const char* data, size_t size) {
  if (m_bFound || size == 0) return m_bFound;
  m_buffer.append(data, size);
  const auto* bytes = reinterpret_cast<const unsigned char*>(m_buffer.data());
  if (m_matcher.Matches(m_buffer.data(), m_buffer.size())) {
    m_bFound = true;
    m_buffer.clear();
    return true;
  }
  // Keep what a signature begun here could still need.
  const size_t longest = m_matcher.MaxLength();
  m_buffer.erase(0, CarryFrom(bytes, m_buffer.size(), longest > 0 ? longest - 1 : 0, CharStarts::kGbk));
  return false;
}

size_t CarryFrom(const unsigned char* text, size_t size, size_t keep, CharStarts rule) {
  // Always the last byte, which may lead a character that the next piece completes.
  keep = std::max<size_t>(1, keep);
  if (size <= keep) return 0;
  const size_t wanted = size - keep;
  if (rule == CharStarts::kEveryByte) return wanted;
  // From a character start: step back over double-byte text to a byte that cannot lead, after
  // which a character starts.
  size_t from = wanted;
  while (from > 0 && IsGbkLeadByte(text[from - 1])) --from;
  while (from + GbkCharLength(text, size, from) <= wanted) from += GbkCharLength(text, size, from);
  return from;
}

bool OccursAtCharStart(const char* text, size_t size, const std::string& signature) {
  if (signature.empty()) return true;
  for (size_t i = 0; i + signature.size() <= size;) {
    if (text[i] == signature[0] && std::memcmp(text + i, signature.data(), signature.size()) == 0) return true;
    i += IsGbkLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < size ? 2 : 1;
  }
  return false;
}

bool AnySignatureOccurs(const char* text, size_t size, const std::vector<std::string>& signatures) {
  for (const std::string& s : signatures) {
    if (!s.empty() && OccursAtCharStart(text, size, s)) return true;
  }
  return false;
}
