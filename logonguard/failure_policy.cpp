#include "logonguard/failure_policy.h"

#include <algorithm>

namespace {

bool IsSecurityLog(ELogonSource source) {
  return source == ELogonSource::kRemoteDesktop || source == ELogonSource::kWindowsNetwork;
}

bool SameLog(ELogonSource a, ELogonSource b) { return a == b || (IsSecurityLog(a) && IsSecurityLog(b)); }

}  // namespace

int64_t FailureTime(int64_t recordTime, int64_t now, int64_t periodSeconds) {
  if (recordTime <= 0 || recordTime > now + CFailurePolicy::kRecordSkewSeconds || now - recordTime >= periodSeconds)
    return now;
  return recordTime < now ? recordTime : now;
}

void CFailurePolicy::SetLimits(const CPolicyLimits& limits) {
  m_limits = limits;
  if (m_limits.nThreshold < 1) m_limits.nThreshold = 1;
  if (m_limits.nMaxAddresses < 1) m_limits.nMaxAddresses = 1;
  for (CEntry& entry : m_rows)
    while (entry.times.size() > static_cast<size_t>(m_limits.nThreshold)) entry.times.pop_front();
}

CFailurePolicy::CEntry* CFailurePolicy::Find(const std::string& address, ELogonSource source) {
  for (CEntry& entry : m_rows)
    if (entry.row.eSource == source && entry.row.strAddress == address) return &entry;
  return nullptr;
}

CFailurePolicy::CEntry& CFailurePolicy::Add(const CLogonAddress& address, ELogonSource source, int64_t now) {
  if (m_rows.size() >= m_limits.nMaxAddresses) {
    DropOld(now);
    if (m_rows.size() >= m_limits.nMaxAddresses) {
      // A flood of one-shot (or IPv6) addresses must not push out a slow guesser close to the
      // threshold: rows that can never block or hold a single failure go first, then rows below
      // half the threshold, and only then rows at half of it or one short of it; the one seen
      // longest ago within its kind.
      auto worth = [&](const CEntry& e) {
        if (e.row.bIpv6) return 0;
        int recent = 0;
        for (int64_t at : e.times) recent += now - at < m_limits.nPeriodSeconds ? 1 : 0;
        if (recent == 0) return 0;
        if (recent + 1 >= m_limits.nThreshold || 2 * recent >= m_limits.nThreshold) return 2;
        return recent == 1 ? 0 : 1;
      };
      auto victim = m_rows.begin();
      int victimWorth = worth(*victim);
      for (auto it = std::next(m_rows.begin()); it != m_rows.end(); ++it) {
        const int w = worth(*it);
        if (w < victimWorth || (w == victimWorth && it->row.tLast < victim->row.tLast)) {
          victim = it;
          victimWorth = w;
        }
      }
      m_rows.erase(victim);
    }
  }
  CEntry entry;
  entry.row.strAddress = address.strText;
  entry.row.bIpv6 = address.eKind == EAddressKind::kIpv6;
  entry.row.eSource = source;
  m_rows.push_back(std::move(entry));
  return m_rows.back();
}

void CFailurePolicy::DropOld(int64_t now) {
  m_rows.erase(std::remove_if(m_rows.begin(), m_rows.end(),
                              [&](const CEntry& e) { return now - e.row.tLast > m_limits.nKeepSeconds; }),
               m_rows.end());
}

void CFailurePolicy::Forget(CEntry& entry, int64_t now) {
  while (!entry.times.empty() && now - entry.times.front() >= m_limits.nPeriodSeconds) entry.times.pop_front();
  entry.row.nRecent = static_cast<int>(entry.times.size());
}

bool CFailurePolicy::OnEvent(const CLogonEvent& event) {
  if (event.eOutcome == ELogonOutcome::kNone) return false;
  const int sourceIndex = static_cast<int>(event.eSource);
  if (sourceIndex < 0 || sourceIndex >= kLogonSourceCount || !m_limits.bSourceOn[sourceIndex]) return false;
  const CLogonAddress address = ReadLogonAddress(event.strAddress);
  if (address.eKind == EAddressKind::kIgnored) return false;
  const int64_t now = m_clock.Now();
  CEntry* entry = Find(address.strText, event.eSource);

  if (event.eOutcome == ELogonOutcome::kSuccess) {
    // A password that worked clears the count; an anonymous session proves nothing. Remote
    // desktop with network level authentication fails as a network logon and succeeds as a
    // remote desktop one, so a Security log success clears both Security log counts.
    if (IsAnonymousUser(event.strUser)) return false;
    for (CEntry& other : m_rows)
      if (other.row.strAddress == address.strText && SameLog(other.row.eSource, event.eSource)) {
        other.times.clear();
        other.row.nRecent = 0;
      }
    return false;
  }

  if (entry == nullptr) entry = &Add(address, event.eSource, now);
  CFailureRow& row = entry->row;
  Forget(*entry, now);
  // Buffered logs and a replayed backlog arrive in bursts: a failure counts at its record's own
  // time when that time is one the period can hold, so records arriving together are not
  // taken for failures made together; they may also arrive out of order.
  const int64_t at = FailureTime(event.tRecord, now, m_limits.nPeriodSeconds);
  entry->times.insert(std::upper_bound(entry->times.begin(), entry->times.end(), at), at);
  while (entry->times.size() > static_cast<size_t>(m_limits.nThreshold)) entry->times.pop_front();
  row.nRecent = static_cast<int>(entry->times.size());
  ++row.nTotal;
  row.tLast = std::max(row.tLast, at);
  if (!event.strUser.empty() && row.users.size() < m_limits.nMaxUsersPerRow &&
      std::find(row.users.begin(), row.users.end(), event.strUser) == row.users.end())
    row.users.push_back(event.strUser.substr(0, kMaxUserBytes));

  if (row.bIpv6 || row.nRecent < m_limits.nThreshold) return false;
  // One request per run of failures: the count starts again, so an address the block port
  // refuses is asked for again only after another full run, never on every failure.
  entry->times.clear();
  row.nRecent = 0;
  const bool blocked = m_blocks.RequestBlock(row.strAddress, row.eSource);
  row.bBlocked = row.bBlocked || blocked;
  row.bRefused = !blocked;
  row.eRefusal = blocked ? EBlockRefusal::kNone : m_blocks.LastRefusal();
  return true;
}

std::vector<CFailureRow> CFailurePolicy::Rows() {
  const int64_t now = m_clock.Now();
  DropOld(now);
  std::vector<CFailureRow> rows;
  rows.reserve(m_rows.size());
  for (CEntry& entry : m_rows) {
    Forget(entry, now);
    rows.push_back(entry.row);
  }
  std::stable_sort(rows.begin(), rows.end(), [](const CFailureRow& a, const CFailureRow& b) { return a.tLast > b.tLast; });
  return rows;
}
