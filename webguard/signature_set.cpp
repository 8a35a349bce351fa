#include "webguard/signature_set.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

int ClampCount(int count) { return std::max(0, std::min(count, kSignatureSlots)); }

}  // namespace

std::vector<std::string> EffectiveSignatures(const char* const* entries, int count) {
  std::vector<std::string> signatures;
  count = ClampCount(count);
  for (int i = 0; i < count && entries[i] && entries[i][0]; ++i) signatures.emplace_back(entries[i]);
  return signatures;
}

bool CSignatureSet::SameAs(const char* const* entries, int count) const {
  count = ClampCount(count);
  size_t i = 0;
  for (; i < static_cast<size_t>(count) && entries[i] && entries[i][0]; ++i) {
    if (i >= m_signatures.size()) return false;
    const std::string& known = m_signatures[i];
    if (std::strncmp(entries[i], known.c_str(), known.size() + 1) != 0) return false;
  }
  return i == m_signatures.size();
}

bool CSignatureSet::Update(const char* const* entries, int count) {
  if (m_bBuilt && SameAs(entries, count)) return false;
  try {
    std::vector<std::string> signatures = EffectiveSignatures(entries, count);
    if (!m_rules.Build(signatures)) return false;
    m_signatures = std::move(signatures);
    m_pPlainMatcher.reset();
  } catch (const std::bad_alloc&) {
    return false;
  }
  m_bBuilt = true;
  return true;
}

bool CSignatureSet::Matches(const std::string& content) const {
  CSignatureScan scan(m_rules);
  scan.Feed(content.data(), content.size());
  return scan.Finish();
}

const CSignatureMatcher& CSignatureSet::Matcher() const {
  const CSignatureMatcher& raw = m_rules.Matcher(CSignatureRules::kRaw);
  bool extended = false;
  for (const std::string& s : m_signatures) extended |= s[0] == kExtendedMark;
  if (!extended) return raw;
  if (!m_pPlainMatcher) {
    auto plain = std::make_unique<CSignatureMatcher>();
    std::vector<std::string> signatures;
    for (const std::string& s : m_signatures) {
      if (s[0] != kExtendedMark) signatures.push_back(s);
    }
    plain->SetByteLimit(raw.ByteLimit());
    plain->Build(signatures);
    m_pPlainMatcher = std::move(plain);
  }
  return *m_pPlainMatcher;
}
