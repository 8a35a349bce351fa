#include "webguard/signature_rules.h"

#include <algorithm>
#include <new>
#include <unordered_map>

bool ParseExtendedSignature(const std::string& entry, CExtendedSignature* signature) {
  if (entry.empty() || entry[0] != kExtendedMark) return false;
  CExtendedSignature parsed;
  size_t at = 1;
  for (; at < entry.size() && entry[at] != kPartMark; ++at) {
    if (entry[at] != kNormalisedFlag) return false;  // an unknown flag, or no flag at all
    parsed.bNormalised = true;
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
    std::vector<uint8_t> required;
    size_t usable = 0;
    std::vector<std::string> patterns[kViews];
    std::vector<std::vector<uint32_t>> uses[kViews];
    std::unordered_map<std::string, uint32_t> known[kViews];
    auto add = [&](View view, std::string pattern, uint32_t use) {
      const auto found = known[view].emplace(std::move(pattern), static_cast<uint32_t>(patterns[view].size()));
      if (found.second) {
        patterns[view].push_back(found.first->first);
        uses[view].emplace_back();
      }
      uses[view][found.first->second].push_back(use);
    };
    CExtendedSignature extended;
    for (const std::string& entry : entries) {
      if (entry.empty()) continue;
      if (entry[0] != kExtendedMark) {
        add(kRaw, entry, kPlainUse);
        ++usable;
        continue;
      }
      if (!ParseExtendedSignature(entry, &extended)) continue;
      const View view = extended.bNormalised ? kNormalised : kRaw;
      if (view == kNormalised) {
        bool empty = false;
        for (std::string& part : extended.parts) {
          part = NormaliseText(part);
          empty |= part.empty();
        }
        if (empty) continue;  // it would match every file
      }
      const uint32_t conjunction = static_cast<uint32_t>(required.size());
      required.push_back(static_cast<uint8_t>((1u << extended.parts.size()) - 1));
      for (size_t k = 0; k < extended.parts.size(); ++k) {
        add(view, std::move(extended.parts[k]), conjunction * kMaxParts + static_cast<uint32_t>(k));
      }
      ++usable;
    }
    for (int v = 0; v < kViews; ++v) {
      views[v].matcher.SetByteLimit(m_views[v].matcher.ByteLimit());
      views[v].matcher.SetWorkAllowance(m_views[v].matcher.WorkAllowance());
      if (!views[v].matcher.Build(patterns[v])) return false;
      views[v].useStart.reserve(uses[v].size() + 1);
      views[v].useStart.push_back(0);
      for (const std::vector<uint32_t>& list : uses[v]) {
        views[v].uses.insert(views[v].uses.end(), list.begin(), list.end());
        views[v].useStart.push_back(static_cast<uint32_t>(views[v].uses.size()));
      }
    }
    for (int v = 0; v < kViews; ++v) {
      m_views[v].matcher = std::move(views[v].matcher);
      m_views[v].useStart = std::move(views[v].useStart);
      m_views[v].uses = std::move(views[v].uses);
    }
    m_required = std::move(required);
    m_usable = usable;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void CSignatureRules::SetByteLimit(size_t limit) {
  for (CView& view : m_views) view.matcher.SetByteLimit(limit);
}

void CSignatureRules::SetWorkAllowance(size_t allowance) {
  for (CView& view : m_views) view.matcher.SetWorkAllowance(allowance);
}

size_t CSignatureRules::MemoryBytesWithAutomata() const {
  size_t bytes = m_required.capacity();
  for (const CView& view : m_views) {
    view.matcher.BuildAutomaton();
    bytes += view.matcher.MemoryBytes() + (view.useStart.capacity() + view.uses.capacity()) * sizeof(uint32_t);
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

CSignatureScan::CSignatureScan(const CSignatureRules& rules, CharStarts rawStarts)
    : m_rules(rules),
      m_rawStarts(rawStarts),
      m_bNormalised(!rules.Matcher(CSignatureRules::kNormalised).Empty()) {}

bool CSignatureScan::Found(CSignatureRules::View view, uint32_t signature) {
  const CSignatureRules::CView& rules = m_rules.m_views[view];
  // A part found again changes nothing (a common part may be told at every occurrence).
  uint8_t& seen = m_seen[view][signature];
  if (seen) return false;
  seen = 1;
  for (uint32_t u = rules.useStart[signature]; u < rules.useStart[signature + 1]; ++u) {
    const uint32_t use = rules.uses[u];
    if (use == CSignatureRules::kPlainUse) return m_bFound = true;
    const uint32_t conjunction = use / kMaxParts;
    m_partsFound[conjunction] |= static_cast<uint8_t>(1u << (use % kMaxParts));
    if (m_partsFound[conjunction] == m_rules.m_required[conjunction]) return m_bFound = true;
  }
  return false;
}

void CSignatureScan::ScanCarried(CSignatureRules::View view, CharStarts starts) {
  const CSignatureMatcher& matcher = m_rules.Matcher(view);
  std::string& text = m_carried[view];
  CSink sink(*this, view);
  if (matcher.Scan(text.data(), text.size(), starts, sink)) return;
  const size_t longest = matcher.MaxLength();
  text.erase(0, CarryFrom(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                          longest > 0 ? longest - 1 : 0, starts));
}

void CSignatureScan::ScanRaw(const char* data, size_t size) {
  const CSignatureMatcher& matcher = m_rules.Matcher(CSignatureRules::kRaw);
  if (matcher.Empty()) return;
  std::string& carried = m_carried[CSignatureRules::kRaw];
  if (!carried.empty()) {
    carried.append(data, size);
    ScanCarried(CSignatureRules::kRaw, m_rawStarts);
    return;
  }
  // Nothing carried (the first piece): scanned where it lies, and only its end is copied.
  CSink sink(*this, CSignatureRules::kRaw);
  if (matcher.Scan(data, size, m_rawStarts, sink)) return;
  const size_t longest = matcher.MaxLength();
  const size_t from = CarryFrom(reinterpret_cast<const unsigned char*>(data), size, longest > 0 ? longest - 1 : 0,
                                m_rawStarts);
  carried.assign(data + from, size - from);
}

bool CSignatureScan::Feed(const char* data, size_t size) {
  if (m_bFound || size == 0) return m_bFound;
  ScanRaw(data, size);
  if (m_bFound || !m_bNormalised) return m_bFound;
  m_normaliser.Feed(data, size, &m_carried[CSignatureRules::kNormalised]);
  ScanCarried(CSignatureRules::kNormalised, CharStarts::kEveryByte);
  return m_bFound;
}

bool CSignatureScan::Finish() {
  if (m_bFound || !m_bNormalised) return m_bFound;
  m_normaliser.Finish(&m_carried[CSignatureRules::kNormalised]);
  ScanCarried(CSignatureRules::kNormalised, CharStarts::kEveryByte);
  return m_bFound;
}
