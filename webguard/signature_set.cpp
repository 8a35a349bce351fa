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
    if (!m_matcher.Build(signatures)) return false;
    m_signatures = std::move(signatures);
  } catch (const std::bad_alloc&) {
    return false;
  }
  m_bBuilt = true;
  return true;
}
