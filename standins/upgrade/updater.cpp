#include "updater.h"

#include <cstdlib>

#include "sha256.h"

namespace {

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

int CUpdater::Run(const std::string& commandLine) {
  m_ports.SetRecordValue("commandline", Printable(commandLine));
  const std::string folderUrl = BuildFolderOf(CommandArguments(commandLine));
  if (folderUrl.empty()) return Finish(false, "命令行不是新版本目录");
  CBuildManifest manifest;
  std::string reason;
  if (!Fetch(folderUrl, manifest, reason) || !CheckVersion(manifest, reason)) return Finish(false, reason);
  if (!m_ports.WaitProgramEnded(kProgramEndSeconds)) return Finish(false, "旧程序没有退出");
  if (!Install(manifest, reason)) return Finish(false, reason);
  m_ports.EmptyFolder(kStagingFolder);
  return Finish(true, "");
}

// Every file lands in the staging folder only after its size and digest matched.
bool CUpdater::Fetch(const std::string& folderUrl, CBuildManifest& manifest, std::string& reason) {
  std::string text;
  if (!m_ports.Download(folderUrl + kManifestName, kMaxManifestBytes, text)) {
    reason = "下载文件清单失败";
    return false;
  }
  if (!ParseManifest(text, manifest, reason)) return false;
  if (!m_ports.EmptyFolder(kStagingFolder)) {
    reason = "无法建立目录upgrade.new";
    return false;
  }
  for (const CBuildFile& file : manifest.files) {
    std::string bytes;
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
    if (!m_ports.Write(InFolder(kStagingFolder, file.strName), bytes)) {
      reason = "无法保存: " + file.strName;
      return false;
    }
  }
  return true;
}

// The build must be the version the program handed over for, and never older than the program.
bool CUpdater::CheckVersion(const CBuildManifest& manifest, std::string& reason) {
  const double version = std::atof(manifest.strVersion.c_str());
  const std::string wanted = m_ports.RecordValue("version");
  const std::string from = m_ports.RecordValue("from");
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
    reason = "无法建立目录upgrade.old";
    return false;
  }
  m_hadFile.assign(manifest.files.size(), false);
  for (size_t i = 0; i < manifest.files.size(); ++i) {
    const std::string& name = manifest.files[i].strName;
    if (!m_ports.Exists(name)) continue;
    if (!m_ports.Copy(name, InFolder(kRollbackFolder, name))) {
      reason = "无法备份: " + name;
      return false;
    }
    m_hadFile[i] = true;
  }
  for (size_t i = 0; i < manifest.files.size(); ++i) {
    const std::string& name = manifest.files[i].strName;
    if (!m_ports.Move(InFolder(kStagingFolder, name), name)) {
      Restore(manifest, i + 1);
      reason = "无法替换: " + name;
      return false;
    }
  }
  if (!m_ports.StartProgram(kNewProgramWatchSeconds)) {
    // Whatever the new build did, it has ended: the old files can go back.
    m_ports.WaitProgramEnded(kProgramEndSeconds);
    Restore(manifest, manifest.files.size());
    reason = "新程序无法运行,已恢复旧程序";
    return false;
  }
  return true;
}

void CUpdater::Restore(const CBuildManifest& manifest, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const std::string& name = manifest.files[i].strName;
    if (m_hadFile[i]) {
      m_ports.Copy(InFolder(kRollbackFolder, name), name);
    } else {
      m_ports.Remove(name);
    }
  }
}

// The record is complete before any program starts, so the program reads the outcome.
int CUpdater::Finish(bool installed, const std::string& reason) {
  m_ports.SetRecordValue("result", installed ? "installed" : "failed");
  m_ports.SetRecordValue("reason", Printable(reason));
  m_ports.SetRecordValue("finished", std::to_string(m_ports.Now()));
  if (installed) return 0;
  // The old program stays in place; bring it back up unless it never ended.
  if (m_ports.WaitProgramEnded(kProgramEndSeconds)) m_ports.StartProgram(0);
  return 1;
}
