#include "webguard/signature_rules.h"

#include <algorithm>
#include <new>
#include <string_view>
#include <type_traits>
#include <unordered_map>

#include "webguard/signature_few.h"
#include "webguard/signature_filter.h"

bool ParseExtendedSignature(const std::string& entry, CExtendedSignature* signature) {
  if (entry.empty() || entry[0] != kExtendedMark) return false;
  CExtendedSignature parsed;
  size_t at = 1;
  while (at < entry.size() && entry[at] != kPartMark) {
    if (entry[at] == kNormalisedFlag) {
      parsed.bNormalised = true;
      ++at;
      continue;
    }
    // A window or a size gate: a letter and its number, each once.
    const char flag = entry[at];
    size_t* value = flag == kOrderedFlag ? &parsed.window : flag == kSizeFlag ? &parsed.sizeGate : nullptr;
    if (!value || *value != 0) return false;  // an unknown flag, or a second window or gate
    size_t number = 0, digits = 0;
    for (++at; at < entry.size() && entry[at] >= '0' && entry[at] <= '9' && digits < 8; ++at, ++digits) {
      number = number * 10 + static_cast<size_t>(entry[at] - '0');
    }
    if (number == 0 || number > (flag == kOrderedFlag ? kMaxWindow : kMaxGate)) return false;
    *value = number;
  }
  if (at == entry.size()) return false;  // no part
  while (at < entry.size()) {
    const size_t next = entry.find(kPartMark, at + 1);
    const size_t end = next == std::string::npos ? entry.size() : next;
    if (end == at + 1 || parsed.parts.size() == kMaxParts) return false;
    parsed.parts.push_back(entry.substr(at + 1, end - at - 1));
    at = end;
  }
  *signature = std::move(parsed);
  return true;
}

bool CSignatureRules::Build(const std::vector<std::string>& entries) {
  try {
    CView views[kViews];
    std::vector<uint8_t> required, primary;
    std::vector<uint32_t> order;
    std::vector<COrdered> ordered;
    bool anyOrdered[kViews] = {};
    size_t usable = 0;
    std::vector<std::string> patterns[kViews][kSets];
    std::vector<std::vector<uint32_t>> uses[kViews][kSets];
    std::unordered_map<std::string, uint32_t> known[kViews][kSets];
    auto add = [&](View view, Set set, std::string pattern, uint32_t use) {
      const auto found = known[view][set].emplace(std::move(pattern), static_cast<uint32_t>(patterns[view][set].size()));
      if (found.second) {
        patterns[view][set].push_back(found.first->first);
        uses[view][set].emplace_back();
      }
      uses[view][set][found.first->second].push_back(use);
    };
    CExtendedSignature extended;
    for (const std::string& entry : entries) {
      if (entry.empty()) continue;
      if (entry[0] != kExtendedMark) {
        add(kRaw, kPrimary, entry, kPlainUse);
        ++usable;
        continue;
      }
      if (!ParseExtendedSignature(entry, &extended)) continue;
      const View view = extended.bNormalised ? kNormalised : kRaw;
      size_t longest = 0;
      bool empty = false;
      for (std::string& part : extended.parts) {
        if (view == kNormalised) part = NormalisePart(part);
        empty |= part.empty();
        longest = std::max(longest, part.size());
      }
      if (empty) continue;  // it would match every file
      const uint32_t conjunction = static_cast<uint32_t>(required.size());
      required.push_back(static_cast<uint8_t>((1u << extended.parts.size()) - 1));
      primary.push_back(0);
      order.push_back(kUnordered);
      if (extended.window != 0 || extended.sizeGate != 0) {
        order.back() = static_cast<uint32_t>(ordered.size());
        ordered.push_back(COrdered{extended.window, extended.sizeGate, extended.parts});
        anyOrdered[view] = true;
      }
      for (size_t k = 0; k < extended.parts.size(); ++k) {
        const Set set = longest >= kLongPart && extended.parts[k].size() < kLongPart ? kDeferred : kPrimary;
        if (set == kPrimary) primary.back() |= static_cast<uint8_t>(1u << k);
        add(view, set, std::move(extended.parts[k]), conjunction * kMaxParts + static_cast<uint32_t>(k));
      }
      ++usable;
    }
    // A view whose parts, short ones too, are few enough to be all looked for at every position
    // defers none: that costs less than keeping every file's text for them.
    for (int v = 0; v < kViews; ++v) {
      std::vector<std::string> all = patterns[v][kPrimary];
      all.insert(all.end(), patterns[v][kDeferred].begin(), patterns[v][kDeferred].end());
      if (patterns[v][kDeferred].empty() || !CFewSignatures::Takes(all)) continue;
      for (size_t i = 0; i < patterns[v][kDeferred].size(); ++i) {
        for (const uint32_t use : uses[v][kDeferred][i]) {
          primary[use / kMaxParts] |= static_cast<uint8_t>(1u << (use % kMaxParts));
          add(static_cast<View>(v), kPrimary, patterns[v][kDeferred][i], use);
        }
      }
      patterns[v][kDeferred].clear();
      uses[v][kDeferred].clear();
    }
    // Each conjunction's rarest deferred part, looked for on its own before the deferred parts
    // are all looked for (see CSignatureScan::Finish).
    std::vector<uint32_t> probe(required.size(), kNoProbe);
    std::vector<std::string> probeParts;
    auto rarity = [](const std::string& part) { return Rarity(part.data(), part.size()); };
    for (int v = 0; v < kViews; ++v) {
      for (size_t i = 0; i < patterns[v][kDeferred].size(); ++i) {
        const auto index = static_cast<uint32_t>(probeParts.size());
        probeParts.push_back(patterns[v][kDeferred][i]);
        for (const uint32_t use : uses[v][kDeferred][i]) {
          uint32_t& chosen = probe[use / kMaxParts];
          if (chosen == kNoProbe || rarity(probeParts[index]) > rarity(probeParts[chosen])) chosen = index;
        }
      }
    }
    for (int v = 0; v < kViews; ++v) {
      for (int t = 0; t < kSets; ++t) {
        CSet& set = views[v].sets[t];
        set.matcher.SetByteLimit(m_views[v].sets[t].matcher.ByteLimit());
        set.matcher.SetWorkAllowance(m_views[v].sets[t].matcher.WorkAllowance());
        if (!set.matcher.Build(patterns[v][t])) return false;
        set.useStart.reserve(uses[v][t].size() + 1);
        set.useStart.push_back(0);
        for (const std::vector<uint32_t>& list : uses[v][t]) {
          set.uses.insert(set.uses.end(), list.begin(), list.end());
          set.useStart.push_back(static_cast<uint32_t>(set.uses.size()));
        }
      }
    }
    for (int v = 0; v < kViews; ++v) {
      for (int t = 0; t < kSets; ++t) {
        CSet& set = m_views[v].sets[t];
        set.matcher = std::move(views[v].sets[t].matcher);
        set.useStart = std::move(views[v].sets[t].useStart);
        set.uses = std::move(views[v].sets[t].uses);
      }
    }
    m_required = std::move(required);
    m_primary = std::move(primary);
    m_order = std::move(order);
    m_ordered = std::move(ordered);
    for (int v = 0; v < kViews; ++v) m_bOrdered[v] = anyOrdered[v];
    m_probe = std::move(probe);
    m_probeParts = std::move(probeParts);
    m_usable = usable;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool OccurInOrder(const char* text, size_t size, const std::vector<std::string>& parts, size_t window) {
  const std::string_view whole(text, size);
  // Ends of the chains so far (ascending); each next part must begin within window of one.
  std::vector<size_t> ends, next;
  for (size_t k = 0; k < parts.size(); ++k) {
    const std::string& part = parts[k];
    next.clear();
    size_t from = k == 0 ? 0 : ends.front();
    const size_t last = k == 0 ? size : std::min(size, ends.back() + window + part.size());
    size_t chain = 0;  // ends[chain] is the last end at or before the occurrence
    while (next.size() < kMaxOccurrences) {
      const size_t at = whole.substr(0, last).find(part, from);
      if (at == std::string_view::npos) break;
      from = at + 1;
      if (k > 0) {
        while (chain + 1 < ends.size() && ends[chain + 1] <= at) ++chain;
        if (ends[chain] > at || at - ends[chain] > window) continue;
      }
      next.push_back(at + part.size());
    }
    if (next.empty()) return false;
    ends.swap(next);
  }
  return true;
}

bool CSignatureRules::Holds(uint32_t conjunction, const char* text, size_t size, uint64_t fileSize) const {
  const COrdered& ordered = m_ordered[m_order[conjunction]];
  if (ordered.sizeGate != 0 && fileSize > ordered.sizeGate) return false;
  return ordered.window == 0 || OccurInOrder(text, size, ordered.parts, ordered.window);
}

bool CSignatureRules::ProbeOccurs(uint32_t conjunction, const char* text, size_t size) const {
  const uint32_t probe = m_probe[conjunction];
  return probe == kNoProbe || std::string_view(text, size).find(m_probeParts[probe]) != std::string_view::npos;
}

void CSignatureRules::SetByteLimit(size_t limit) {
  for (CView& view : m_views) {
    for (CSet& set : view.sets) set.matcher.SetByteLimit(limit);
  }
}

void CSignatureRules::SetWorkAllowance(size_t allowance) {
  for (CView& view : m_views) {
    for (CSet& set : view.sets) set.matcher.SetWorkAllowance(allowance);
  }
}

size_t CSignatureRules::MemoryBytesWithAutomata() const {
  size_t bytes = m_required.capacity() + m_primary.capacity() + m_probe.capacity() * sizeof(uint32_t);
  bytes += m_order.capacity() * sizeof(uint32_t);
  for (const COrdered& ordered : m_ordered) {
    for (const std::string& part : ordered.parts) bytes += sizeof part + part.capacity();
  }
  for (const std::string& part : m_probeParts) bytes += sizeof part + part.capacity();
  for (const CView& view : m_views) {
    for (const CSet& set : view.sets) {
      set.matcher.BuildAutomaton();
      bytes += set.matcher.MemoryBytes() + (set.useStart.capacity() + set.uses.capacity()) * sizeof(uint32_t);
    }
  }
  return bytes;
}

uint8_t& CSparseBytes::operator[](uint32_t key) {
  if ((m_used + 1) * 2 > m_keys.size()) {
    std::vector<uint32_t> keys(std::max<size_t>(64, m_keys.size() * 2), 0);
    std::vector<uint8_t> values(keys.size(), 0);
    for (size_t i = 0; i < m_keys.size(); ++i) {
      if (!m_keys[i]) continue;
      size_t at = (m_keys[i] * 0x9E3779B1u) & (keys.size() - 1);
      while (keys[at]) at = (at + 1) & (keys.size() - 1);
      keys[at] = m_keys[i];
      values[at] = m_values[i];
    }
    m_keys = std::move(keys);
    m_values = std::move(values);
  }
  const uint32_t stored = key + 1;
  const size_t mask = m_keys.size() - 1;
  size_t at = (stored * 0x9E3779B1u) & mask;
  while (m_keys[at] && m_keys[at] != stored) at = (at + 1) & mask;
  if (!m_keys[at]) {
    m_keys[at] = stored;
    ++m_used;
  }
  return m_values[at];
}

void CSparseBytes::Clear() {
  if (m_used == 0) return;
  std::fill(m_keys.begin(), m_keys.end(), 0);
  std::fill(m_values.begin(), m_values.end(), 0);
  m_used = 0;
}

CSignatureScan::CSignatureScan(const CSignatureRules& rules, CharStarts rawStarts)
    : m_rules(rules), m_rawStarts(rawStarts) {
  Restart();
}

void CSignatureScan::Restart() {
  m_bFound = false;
  m_bNormalised = !m_rules.Matcher(CSignatureRules::kNormalised).Empty() ||
                  !m_rules.m_views[CSignatureRules::kNormalised].sets[CSignatureRules::kDeferred].matcher.Empty();
  m_normaliser.Restart();
  m_partsFound.Clear();
  // Buffers a large file grew are given back; ordinary ones stay for the next file.
  auto empty = [](auto& buffer) {
    if (buffer.capacity() > kHeldCapacity) {
      std::remove_reference_t<decltype(buffer)>().swap(buffer);
    } else {
      buffer.clear();
    }
  };
  empty(m_carriedRaw);
  empty(m_view);
  for (int v = 0; v < CSignatureRules::kViews; ++v) {
    m_bEveryPiece[v] = false;
    for (CSparseBytes& seen : m_seen[v]) seen.Clear();
  }
  empty(m_keptRaw);
  m_normalisedScanned = 0;
  for (std::vector<uint32_t>& wanted : m_wanted) wanted.clear();
  for (std::vector<uint32_t>& complete : m_complete) complete.clear();
  m_fedBytes = 0;
}

bool CSignatureScan::Found(CSignatureRules::View view, CSignatureRules::Set set, uint32_t signature) {
  const CSignatureRules::CSet& rules = m_rules.m_views[view].sets[set];
  // A part found again changes nothing (a common part may be told at every occurrence).
  uint8_t& seen = m_seen[view][set][signature];
  if (seen) return false;
  seen = 1;
  for (uint32_t u = rules.useStart[signature]; u < rules.useStart[signature + 1]; ++u) {
    const uint32_t use = rules.uses[u];
    if (use == CSignatureRules::kPlainUse) return m_bFound = true;
    const uint32_t conjunction = use / kMaxParts;
    uint8_t& parts = m_partsFound[conjunction];
    const uint8_t before = parts;
    parts |= static_cast<uint8_t>(1u << (use % kMaxParts));
    if (parts == m_rules.m_required[conjunction]) {
      // In order (or within its size gate) or not is known once the text is there (CheckOrder).
      if (m_rules.m_order[conjunction] == CSignatureRules::kUnordered) return m_bFound = true;
      if (before != parts) m_complete[view].push_back(conjunction);
      continue;
    }
    const uint8_t primary = m_rules.m_primary[conjunction];
    // A conjunction's parts all belong to one view: only that view's kept text is wanted.
    std::vector<uint32_t>& wanted = m_wanted[view];
    if ((parts & primary) == primary && (before & primary) != primary && wanted.size() <= kProbedWanted) {
      wanted.push_back(conjunction);
    }
  }
  return false;
}

void CSignatureScan::ScanAndCarry(CSignatureRules::View view, CSignatureRules::Set set, std::string* text,
                                  CharStarts starts) {
  const CSignatureMatcher& matcher = m_rules.m_views[view].sets[set].matcher;
  CSink sink(*this, view, set);
  if (matcher.Scan(text->data(), text->size(), starts, sink)) return;
  const size_t longest = matcher.MaxLength();
  text->erase(0, CarryFrom(reinterpret_cast<const unsigned char*>(text->data()), text->size(),
                           longest > 0 ? longest - 1 : 0, starts));
}

bool CSignatureScan::KeepsView(CSignatureRules::View view) const {
  return !m_rules.m_views[view].sets[CSignatureRules::kDeferred].matcher.Empty() || m_rules.m_bOrdered[view];
}

void CSignatureScan::CheckOrder(CSignatureRules::View view, const char* kept, size_t size) {
  for (const uint32_t conjunction : m_complete[view]) {
    if (m_rules.Holds(conjunction, kept, size, m_fedBytes)) {
      m_bFound = true;
      break;
    }
  }
  m_complete[view].clear();
}

void CSignatureScan::KeepRaw(const char* data, size_t size) {
  if (!KeepsView(CSignatureRules::kRaw) || m_bFound) return;
  const bool deferred = !m_rules.m_views[CSignatureRules::kRaw].sets[CSignatureRules::kDeferred].matcher.Empty();
  if (m_bEveryPiece[CSignatureRules::kRaw]) {
    if (deferred) ScanAndCarry(CSignatureRules::kRaw, CSignatureRules::kDeferred, &m_keptRaw.append(data, size), m_rawStarts);
    return;
  }
  m_keptRaw.append(data, size);
  // Too much to keep: the order is seen in what is kept (ordered conjunctions completed later
  // are not), and from now on every piece is scanned for the deferred parts too.
  if (m_keptRaw.size() > kKeptLimit) {
    m_bEveryPiece[CSignatureRules::kRaw] = true;
    CheckOrder(CSignatureRules::kRaw, m_keptRaw.data(), m_keptRaw.size());
    if (m_bFound) return;
    if (deferred) {
      ScanAndCarry(CSignatureRules::kRaw, CSignatureRules::kDeferred, &m_keptRaw, m_rawStarts);
    } else {
      std::string().swap(m_keptRaw);
    }
  }
}

void CSignatureScan::ScanNormalised() {
  using Rules = CSignatureRules;
  CViewBuffer& view = m_view;
  const CSignatureMatcher& primary = m_rules.Matcher(Rules::kNormalised);
  const CSignatureMatcher& deferred = m_rules.m_views[Rules::kNormalised].sets[Rules::kDeferred].matcher;
  bool& everyPiece = m_bEveryPiece[Rules::kNormalised];
  // From the first byte not yet scanned, less what a signature begun before it may need.
  auto scanNew = [&](Rules::Set set, const CSignatureMatcher& matcher) {
    const size_t back = matcher.MaxLength() > 0 ? matcher.MaxLength() - 1 : 0;
    const size_t from = m_normalisedScanned > back ? m_normalisedScanned - back : 0;
    CSink sink(*this, Rules::kNormalised, set);
    matcher.Scan(view.data() + from, view.size() - from, CharStarts::kEveryByte, sink);
  };
  if (!primary.Empty()) scanNew(Rules::kPrimary, primary);
  if (!m_bFound && KeepsView(Rules::kNormalised)) {
    if (everyPiece) {
      if (!deferred.Empty()) scanNew(Rules::kDeferred, deferred);
    } else if (view.size() > kKeptLimit) {
      // Too much to keep: what is kept is looked at now (the order of the ordered conjunctions
      // complete so far too), and from now on every new stretch.
      everyPiece = true;
      CheckOrder(Rules::kNormalised, view.data(), view.size());
      CSink sink(*this, Rules::kNormalised, Rules::kDeferred);
      if (!m_bFound && !deferred.Empty()) deferred.Scan(view.data(), view.size(), CharStarts::kEveryByte, sink);
    }
  }
  m_normalisedScanned = view.size();
  // While the deferred parts or the order may still be looked for, the whole view stays.
  if (m_bFound || (KeepsView(Rules::kNormalised) && !everyPiece)) return;
  const size_t longest = everyPiece ? std::max(primary.MaxLength(), deferred.MaxLength()) : primary.MaxLength();
  view.EraseFront(CarryFrom(reinterpret_cast<const unsigned char*>(view.data()), view.size(),
                            longest > 0 ? longest - 1 : 0, CharStarts::kEveryByte));
  m_normalisedScanned = view.size();
}

void CSignatureScan::ScanRaw(const char* data, size_t size) {
  KeepRaw(data, size);
  const CSignatureMatcher& matcher = m_rules.Matcher(CSignatureRules::kRaw);
  if (matcher.Empty() || m_bFound) return;
  std::string& carried = m_carriedRaw;
  if (!carried.empty()) {
    carried.append(data, size);
    ScanAndCarry(CSignatureRules::kRaw, CSignatureRules::kPrimary, &carried, m_rawStarts);
    return;
  }
  // Nothing carried (the first piece): scanned where it lies, and only its end is copied.
  CSink sink(*this, CSignatureRules::kRaw, CSignatureRules::kPrimary);
  if (matcher.Scan(data, size, m_rawStarts, sink)) return;
  const size_t longest = matcher.MaxLength();
  const size_t from = CarryFrom(reinterpret_cast<const unsigned char*>(data), size, longest > 0 ? longest - 1 : 0,
                                m_rawStarts);
  carried.assign(data + from, size - from);
}

bool CSignatureScan::Feed(const char* data, size_t size) {
  if (m_bFound || size == 0) return m_bFound;
  m_fedBytes += size;
  ScanRaw(data, size);
  if (m_bFound || !m_bNormalised) return m_bFound;
  m_normaliser.Feed(data, size, &m_view);
  ScanNormalised();
  return m_bFound;
}

bool CSignatureScan::Finish() {
  using Rules = CSignatureRules;
  if (m_bFound) return true;
  if (m_bNormalised) {
    m_normaliser.Finish(&m_view);
    ScanNormalised();
  }
  // The kept text, looked at only now that the long parts are known.
  auto scanKept = [&](Rules::View view, const char* kept, size_t size) {
    const std::vector<uint32_t>& wanted = m_wanted[view];
    if (m_bFound || wanted.empty() || m_bEveryPiece[view] || size == 0) return;
    // A few wanted conjunctions: none can be complete unless its rarest short part is there
    // (a common long part such as "=str_replace(" had every file holding it searched for every
    // short part of the list).
    if (wanted.size() <= kProbedWanted && std::none_of(wanted.begin(), wanted.end(), [&](uint32_t conjunction) {
          return m_rules.ProbeOccurs(conjunction, kept, size);
        })) {
      return;
    }
    CSink sink(*this, view, Rules::kDeferred);
    m_rules.m_views[view].sets[Rules::kDeferred].matcher.Scan(kept, size, StartsOf(view), sink);
  };
  scanKept(Rules::kRaw, m_keptRaw.data(), m_keptRaw.size());
  if (!m_rules.m_views[Rules::kNormalised].sets[Rules::kDeferred].matcher.Empty()) {
    scanKept(Rules::kNormalised, m_view.data(), m_view.size());
  }
  if (!m_bFound && !m_bEveryPiece[Rules::kRaw]) CheckOrder(Rules::kRaw, m_keptRaw.data(), m_keptRaw.size());
  if (!m_bFound && !m_bEveryPiece[Rules::kNormalised]) CheckOrder(Rules::kNormalised, m_view.data(), m_view.size());
  m_keptRaw.clear();
  return m_bFound;
}
