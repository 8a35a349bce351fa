#include "update/upgrade_handover.h"

#include <cstdlib>

#include "alerts/service_host.h"
#include "common/crt_text.h"
#include "update/version_check.h"
#include "upgrader/updater.h"

namespace {

constexpr char kSection[] = "upgrade";

// What goes into the profile file: no line breaks or other control bytes, bounded.
std::string RecordText(const std::string& text) {
  std::string out;
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F && out.size() < 64) out += c;
  return out;
}

// A reason the updater wrote, as one bounded line of the log; never half a GBK character.
std::string LogReason(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size() && out.size() < 160; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      if (i + 1 >= text.size()) break;
      out += text.substr(i++, 2);
    } else if (c >= 0x20 && c != 0x7F) {
      out += text[i];
    }
  }
  return out;
}

// One word of the stage's command line.
std::string StageWord(const std::string& text) {
  std::string word = RecordText(text);
  for (char& c : word)
    if (c == ' ') c = '_';
  return word.empty() ? "0" : word;
}

}  // namespace

CUpgradeRecord ReadUpgradeRecord(IProfileStore& store, const std::string& file) {
  CUpgradeRecord record;
  record.strVersion = store.Get(file, kSection, "version");
  // As the Windows C runtime reads it (a number beyond int stops at its limit), so that a
  // damaged width never wraps around to a real one.
  record.nBits = CAtoi(store.Get(file, kSection, "bits").c_str());
  record.strFrom = store.Get(file, kSection, "from");
  record.tTime = std::strtoll(store.Get(file, kSection, "time").c_str(), nullptr, 10);
  record.strResult = store.Get(file, kSection, "result");
  record.strReason = store.Get(file, kSection, "reason");
  return record;
}

std::string ReadStageReason(IProfileStore& store, const std::string& file) {
  return store.Get(file, kSection, kStageReasonKey);
}

bool UpdatedStartAwaitsProtection(IProfileStore& store, const std::string& file) {
  return store.Get(file, kSection, "result") == kResultStarting && store.Get(file, kSection, "protect") == "1" &&
         store.Get(file, kSection, "confirmed").empty();
}

bool ConfirmUpdatedStart(IProfileStore& store, const std::string& file, const std::string& ownVersion,
                         bool protecting) {
  if (store.Get(file, kSection, "result") != kResultStarting) return false;
  if (!protecting && store.Get(file, kSection, "protect") == "1") return false;
  return store.Put(file, kSection, "confirmed", RecordText(ownVersion));
}

bool UpdateInterrupted(IProfileStore& store, const std::string& file) {
  return store.Get(file, kSection, "result") == kResultInstalling;
}

bool WriteProtectCarryOver(IProfileStore& store, const std::string& file, bool resume) {
  return store.Put(file, kSection, "protect", resume ? "1" : "0");
}

bool WriteUpgradeRecord(IProfileStore& store, const std::string& file, const CUpgradeRecord& record) {
  bool ok = true;
  const std::pair<const char*, std::string> values[] = {
      {"version", RecordText(record.strVersion)}, {"bits", std::to_string(record.nBits)},
      {"from", RecordText(record.strFrom)},       {"time", std::to_string(record.tTime)},
      {"result", RecordText(record.strResult)},   {"reason", RecordText(record.strReason)}};
  for (const auto& value : values) ok = store.Put(file, kSection, value.first, value.second) && ok;
  return ok;
}

bool WithdrawHandOver(IProfileStore& store, const std::string& file) {
  const bool result = store.Put(file, kSection, "result", "refused");
  return store.Put(file, kSection, "time", "0") && result;
}

bool HandedOverRecently(const CUpgradeRecord& record, const std::string& latest, int bits, int64_t now) {
  // Compared without a subtraction from the record's time, which may hold any 64-bit number.
  return !record.strVersion.empty() && VersionNumber(record.strVersion) == VersionNumber(latest) &&
         record.nBits == bits && record.tTime > now - kHandOverRetrySeconds && record.tTime < now + kHandOverRetrySeconds;
}

std::string UpgradeFailedText(const std::string& latest) { return "升级到" + latest + "失败," + kNewVersionSuffix; }

std::string UpdaterMissingText(const std::string& latest) { return "无法启动upgrade.exe,最新版本:" + latest; }

CUpgradeDecision DecideUpgrade(const std::string& answer, const std::string& baseUrl, const std::string& ownVersion,
                               int buildBits, int systemBits) {
  CUpgradeDecision decision;
  if (answer.empty()) return decision;
  const std::vector<std::string> fields = VersionFields(answer);
  decision.strLatest = LatestVersion(fields);
  if (!(VersionNumber(decision.strLatest) > 0)) return decision;
  decision.bUpgrade = VersionNumber(ownVersion) < VersionNumber(decision.strLatest) || buildBits != systemBits;
  if (decision.bUpgrade) decision.strArguments = UpdaterArguments(baseUrl, systemBits, fields);
  return decision;
}

EUpgradeOutcome CUpgradeCheck::Run() {
  const int bits = m_ports.SystemBits();
  bool refused = false;
  const std::string answer = FetchSignedVersionFile(m_http, m_strBase, "", &refused);
  if (refused) m_ports.Log("版本文件没有厂商的签名,不予采用");
  const CUpgradeDecision decision = DecideUpgrade(answer, m_strBase, m_strOwn, m_nBuildBits, bits);
  if (!decision.bUpgrade) return EUpgradeOutcome::NoUpgrade;
  const std::string latest = RecordText(decision.strLatest);
  const int64_t now = m_ports.Now();
  if (HandedOverRecently(m_ports.ReadRecord(), latest, bits, now)) {
    m_ports.ShowStatus(UpgradeFailedText(latest));
    return EUpgradeOutcome::RecentlyHandedOver;
  }
  // The program protects all through the download; a build that did not arrive whole and
  // verified is never handed over to.
  const std::string stage = "upgrade.exe " + std::string(kStageWord) + " " + StageWord(latest) + " " +
                            StageWord(m_strOwn) + " " + decision.strArguments;
  std::string reason;
  const IUpgradePorts::EStage staged = m_ports.StageUpdate(stage, reason);
  if (staged == IUpgradePorts::EStage::NoUpdater) {
    m_ports.Log(UpdaterMissingText(latest));
    m_ports.ShowStatus(UpdaterMissingText(latest));
    return EUpgradeOutcome::UpdaterMissing;
  }
  if (staged != IUpgradePorts::EStage::Staged) {
    m_ports.Log("下载新版本" + latest + "失败: " + LogReason(reason));
    m_ports.ShowStatus(UpgradeFailedText(latest));
    return EUpgradeOutcome::StageFailed;
  }
  if (!m_ports.PrepareUpdater("upgrade.exe " + decision.strArguments)) {
    m_ports.ShowStatus(UpdaterMissingText(latest));
    return EUpgradeOutcome::UpdaterMissing;
  }
  // Without the record the next start could not know of this hand-over: do not make it.
  if (!m_ports.WriteRecord({latest, bits, m_strOwn, now, "started", ""})) {
    m_ports.CancelUpdater();
    m_ports.ShowStatus(UpgradeFailedText(latest));
    return EUpgradeOutcome::NotRecorded;
  }
  m_ports.RemoveTrayIcon();
  m_ports.RunUpdaterAndEnd();
  return EUpgradeOutcome::HandedOver;
}
