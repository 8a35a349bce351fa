#include "upgrader/updater.h"

#include <cstdlib>
#include <sstream>

#include "upgrader/build_signature.h"
#include "upgrader/sha256.h"

namespace {

constexpr char kInstalling[] = "installing";

std::string InFolder(const char* folder, const std::string& name) { return std::string(folder) + "\\" + name; }

// The record is a profile file: line breaks and other control bytes would cut it.
std::string Printable(const std::string& text) {
  std::string out = text.substr(0, 1024);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Names kept in the record, separated by blanks; only names the updater could have written.
std::vector<std::string> RecordedNames(const std::string& text) {
  std::vector<std::string> names;
  std::istringstream words(text);
  std::string name;
  while (words >> name)
    if (IsReplaceableName(name)) names.push_back(name);
  return names;
}

}  // namespace

std::string CommandArguments(const std::string& commandLine) {
  size_t i = 0;
  if (!commandLine.empty() && commandLine[0] == '"') {
    const size_t close = commandLine.find('"', 1);
    i = close == std::string::npos ? commandLine.size() : close + 1;
  } else {
    while (i < commandLine.size() && commandLine[i] != ' ' && commandLine[i] != '\t') ++i;
  }
  return i < commandLine.size() ? commandLine.substr(i + 1) : std::string();
}

std::string BuildFolderOf(const std::string& arguments) {
  const std::string folder = arguments.substr(0, arguments.find(','));
  if (folder.size() > 256 || folder.compare(0, 7, "http://") != 0) return "";
  for (char c : folder)
    if (c <= 0x20 || c >= 0x7F) return "";
  if (!EndsWith(folder, "/tavrick/newsoft/x86/") && !EndsWith(folder, "/tavrick/newsoft/x64/")) return "";
  return folder;
}

bool IsStageArguments(const std::string& arguments) {
  const size_t n = sizeof kStageWord - 1;
  return arguments.compare(0, n, kStageWord) == 0 && (arguments.size() == n || arguments[n] == ' ');
}

int CUpdater::Run(const std::string& commandLine) {
  const std::string arguments = CommandArguments(commandLine);
  // The program still runs and protects: nothing beside it is touched, whatever the record says.
  if (IsStageArguments(arguments)) return Stage(arguments.substr(sizeof kStageWord - 1));
  // Files half replaced by an updater that died: the old build comes back before anything else.
  if (m_ports.RecordValue("result") == kInstalling) {
    const int recovered = RecoverInterrupted(arguments == kRestoreWord);
    if (recovered >= 0) return recovered;
  } else if (arguments == kRestoreWord) {
    return 1;  // nothing to restore (another updater did it)
  }
  m_ports.SetRecordValue("commandline", Printable(commandLine));
  const std::string folderUrl = BuildFolderOf(arguments);
  if (folderUrl.empty()) return Finish(false, "命令行不是新版本目录");
  CBuildManifest manifest;
  std::string reason;
  if (!Fetch(folderUrl, m_ports.RecordValue("version"), m_ports.RecordValue("from"), manifest, reason))
    return Finish(false, reason);
  if (!m_ports.WaitProgramEnded(kProgramEndSeconds)) return Finish(false, "旧程序没有退出");
  if (!Install(manifest, reason)) return Finish(false, reason);
  m_ports.EmptyFolder(kStagingFolder);
  m_ports.SetRecordValue("result", "installed");
  m_ports.SetRecordValue("reason", "");
  m_ports.SetRecordValue("finished", std::to_string(m_ports.Now()));
  return 0;
}

// The first updater may still be replacing files, or have died doing so: its "installing" or
// "starting" stays for whoever restores (that updater itself, or the next start), and no program
// is started over a folder that is being changed.
int CUpdater::GiveUpWaiting() {
  const std::string result = m_ports.RecordValue("result");
  if (result == kInstalling || result == "starting") return 1;
  return Finish(false, "另一个升级程序没有结束");
}

// Puts the recorded old files back. The exit code when this run ends here (only restoring, or
// the restore failed, or the program never ended); -1 when the folder is whole again and an
// update may follow.
int CUpdater::RecoverInterrupted(bool onlyRestore) {
  if (!m_ports.WaitProgramEnded(kProgramEndSeconds)) return 2;
  std::string failed;
  if (!RestoreRecorded(failed)) return Finish(false, "升级中断,恢复旧程序失败: " + failed);
  if (onlyRestore) return Finish(false, "升级中断,已恢复旧程序");
  m_ports.SetRecordValue("result", "failed");
  return -1;
}

// " <version> <from> <build folder>,<fields>": the version handed over for and the program's own.
int CUpdater::Stage(const std::string& words) {
  std::istringstream in(words);
  std::string wanted, from, rest;
  std::string reason = "命令行有误";
  CBuildManifest manifest;
  if (in >> wanted >> from >> rest) {
    const std::string folderUrl = BuildFolderOf(rest);
    if (!folderUrl.empty() && Fetch(folderUrl, wanted, from, manifest, reason)) return kStagedExitCode;
  }
  m_ports.SetRecordValue(kStageReasonKey, reason);
  return kStageFailedExitCode;
}

// Every file is in the staging folder only after the vendor's signature of the manifest and then
// its own size and digest matched; one staged before is kept only when it matches again.
bool CUpdater::Fetch(const std::string& folderUrl, const std::string& wanted, const std::string& from,
                     CBuildManifest& manifest, std::string& reason) {
  std::string text;
  if (!m_ports.Download(folderUrl + kManifestName, kMaxManifestBytes, text)) {
    reason = "下载文件清单失败";
    return false;
  }
  // The sizes and digests count only as the vendor signed them: nothing is written before.
  std::string signature;
  if (!m_ports.Download(folderUrl + kManifestName + kSignatureSuffix, kMaxSignatureBytes, signature)) {
    reason = "下载文件清单签名失败";
    return false;
  }
  if (!ReadSignedManifest(text, signature, BuildFolderWidth(folderUrl), manifest, reason) ||
      !CheckVersion(manifest, wanted, from, reason))
    return false;
  if (!m_ports.UseFolder(kStagingFolder)) {
    reason = "无法使用目录upgrade.new(无法建立,或是链接)";
    return false;
  }
  for (const CBuildFile& file : manifest.files)
    if (!StageFile(folderUrl, file, reason)) return false;
  return true;
}

bool CUpdater::StageFile(const std::string& folderUrl, const CBuildFile& file, std::string& reason) {
  const std::string staged = InFolder(kStagingFolder, file.strName);
  std::string bytes;
  if (m_ports.Read(staged, bytes) && bytes.size() == file.nSize && Sha256Hex(bytes) == file.strSha256) return true;
  // Cut short, changed or left from another build: it goes before anything else is tried, so
  // a failed download leaves no unverified file under the name.
  if (!m_ports.Remove(staged)) {
    reason = "无法保存: " + file.strName;
    return false;
  }
  bytes.clear();
  if (!m_ports.Download(folderUrl + file.strName, file.nSize, bytes)) {
    reason = "下载失败: " + file.strName;
    return false;
  }
  if (bytes.size() != file.nSize) {
    reason = "大小不符: " + file.strName;
    return false;
  }
  if (Sha256Hex(bytes) != file.strSha256) {
    reason = "摘要不符: " + file.strName;
    return false;
  }
  if (!m_ports.Write(staged, bytes)) {
    reason = "无法保存: " + file.strName;
    return false;
  }
  return true;
}

// The build must be the version the program handed over for, and never older than the program:
// an older build the vendor once signed, served again, is refused before anything is downloaded.
bool CUpdater::CheckVersion(const CBuildManifest& manifest, const std::string& wanted, const std::string& from,
                            std::string& reason) {
  const double version = std::atof(manifest.strVersion.c_str());
  if (!wanted.empty() && std::atof(wanted.c_str()) != version) {
    reason = "新版本目录是" + manifest.strVersion + "版,不是" + Printable(wanted) + "版";
    return false;
  }
  if (!from.empty() && version < std::atof(from.c_str())) {
    reason = "新版本目录是旧版本" + manifest.strVersion;
    return false;
  }
  return true;
}

bool CUpdater::Install(const CBuildManifest& manifest, std::string& reason) {
  if (!m_ports.EmptyFolder(kRollbackFolder)) {
    reason = "无法使用目录upgrade.old(无法建立,或是链接)";
    return false;
  }
  std::string withCopy, without;
  for (const CBuildFile& file : manifest.files) {
    const std::string& name = file.strName;
    if (!m_ports.Exists(name)) {
      without += name + " ";
      continue;
    }
    if (!m_ports.Copy(name, InFolder(kRollbackFolder, name))) {
      reason = "无法备份: " + name;
      return false;
    }
    withCopy += name + " ";
  }
  // From here on the folder may hold old and new files mixed until the record moves on: whoever
  // starts next and finds "installing" puts the old ones back.
  m_ports.SetRecordValue("old", withCopy);
  m_ports.SetRecordValue("new", without);
  m_ports.SetRecordValue("result", kInstalling);
  std::string failed;
  for (const CBuildFile& file : manifest.files) {
    if (!m_ports.Move(InFolder(kStagingFolder, file.strName), file.strName)) {
      reason = "无法替换: " + file.strName;
      if (!RestoreRecorded(failed)) reason += ",恢复旧程序失败: " + failed;
      return false;
    }
  }
  m_ports.SetRecordValue("confirmed", "");
  m_ports.SetRecordValue("result", "starting");
  if (!m_ports.StartProgram(ProgramWords(), kNewProgramConfirmSeconds)) {
    // Whatever the new build did, it has ended: the old files can go back.
    m_ports.SetRecordValue("result", kInstalling);
    if (!m_ports.WaitProgramEnded(kProgramEndSeconds)) {
      reason = "新程序无法运行,也没有退出";
      return false;
    }
    reason = RestoreRecorded(failed) ? "新程序无法运行,已恢复旧程序" : "新程序无法运行,恢复旧程序失败: " + failed;
    return false;
  }
  return true;
}

// Puts back what the record lists; false with the first name that could not be restored.
bool CUpdater::RestoreRecorded(std::string& failed) {
  bool ok = true;
  for (const std::string& name : RecordedNames(m_ports.RecordValue("old"))) {
    if (!m_ports.Copy(InFolder(kRollbackFolder, name), name) && ok) {
      failed = name;
      ok = false;
    }
  }
  for (const std::string& name : RecordedNames(m_ports.RecordValue("new"))) {
    if (!m_ports.Remove(name) && ok) {
      failed = name;
      ok = false;
    }
  }
  return ok;
}

// The program protected (or was about to) when it handed over: whichever build comes up
// starts protecting by itself.
std::string CUpdater::ProgramWords() { return m_ports.RecordValue("protect") == "1" ? "rebootup" : ""; }

// The record is complete before any program starts, so the program reads the outcome.
int CUpdater::Finish(bool installed, const std::string& reason) {
  m_ports.SetRecordValue("result", installed ? "installed" : "failed");
  m_ports.SetRecordValue("reason", Printable(reason));
  m_ports.SetRecordValue("finished", std::to_string(m_ports.Now()));
  if (installed) return 0;
  // The old program stays in place; bring it back up unless it never ended.
  if (m_ports.WaitProgramEnded(kProgramEndSeconds)) m_ports.StartProgram(ProgramWords(), 0);
  return 1;
}
