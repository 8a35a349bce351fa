#pragma once
// Keeps the configuration file safe across crashes and power cuts. The profile functions
// rewrite the whole file on every write, so a write cut short leaves it empty or cut. A
// last-known-good copy sits beside it, replaced atomically (temporary file, flush, rename)
// after the one-time load and after every save; the load brings a damaged file back from it.
#include <string>

#include "config/profile_store.h"

class ILogFileSystem;

// Whole files, for the copy and the restore.
class IConfigFiles {
 public:
  virtual ~IConfigFiles() = default;
  // false when the file is missing or cannot be read.
  virtual bool Read(const std::string& path, std::string& bytes) = 0;
  // Creates or empties the file, writes every byte and flushes it to the disk; false on any failure
  // (the file may then hold part of the bytes).
  virtual bool WriteThrough(const std::string& path, const std::string& bytes) = 0;
  // Puts `from` in the place of `to` in one step, replacing it; false when nothing moved.
  virtual bool Replace(const std::string& from, const std::string& to) = 0;
  virtual void Remove(const std::string& path) = 0;
};

extern const char kGoodCopySuffix[];     // ".bak": .\tavrick.cfg.bak
extern const char kDamagedCopySuffix[];  // ".damaged": a restored file's damaged bytes are kept here
extern const char kConfigLogPrefix[];    // "cfg": log\cfgYYYY_MM_DD.txt

enum class ConfigDamage { kNone, kMissing, kEmpty, kNoSection, kCut, kLacksKeys, kOpenListItem };

// Why the file cannot be trusted as it is next to this good copy (kNone: it can). Missing,
// empty (blanks only), section-less, and cut (a NUL byte, or ending without a line break in a
// value that the copy's value for that key continues) files are replaced by the copy. A file
// that only lacks sections or keys the copy holds (the program never deletes keys: an
// administrator did, or a cut fell at a line's end) gets those keys back from the copy, unless
// it also ends inside another value, which may be cut. A file that ends without a line break
// inside an address list value (ipfilterlst, ipouterlst) that the copy does not hold as it is
// may have lost the end of its last item, which can then read as another entry (61.0.0.0|0|5分钟
// without its exact mark "|0"): that item is dropped. A file saved as UTF-16 (with its
// byte-order mark) is taken as sound. Without a copy only the first cases can be told.
ConfigDamage FindConfigDamage(bool exists, const std::string& file, const std::string& goodCopy);

// What a file with this damage becomes: the copy, or for kLacksKeys and kOpenListItem the file
// mended as described above (every line then ends with CR LF).
std::string RepairedConfig(ConfigDamage damage, const std::string& file, const std::string& goodCopy);

// A profile store over another one that keeps the good copy of one file up to date.
class CConfigKeeper : public IProfileStore {
 public:
  // log may be null (no record of restores).
  CConfigKeeper(IProfileStore& profile, IConfigFiles& files, ILogFileSystem* log, std::string configFile);

  std::string Get(const std::string& file, const std::string& section, const std::string& key) override;
  // After a write to the configuration file the good copy is taken again, except for the
  // once-a-second protection time: that one only when it turns from zero to non-zero or back.
  bool Put(const std::string& file, const std::string& section, const std::string& key,
           const std::string& value) override;
  bool Has(const std::string& file, const std::string& section, const std::string& key) override;
  void BeforeLoad(const std::string& file) override;
  void AfterLoad(const std::string& file) override;

  // Restores a damaged configuration file from a sound good copy (logging it); what was found.
  ConfigDamage RestoreIfDamaged();
  // Copies the configuration file to the good copy when it is sound; false when not taken.
  bool KeepGoodCopy();

  std::string GoodCopyPath() const { return m_strFile + kGoodCopySuffix; }

 private:
  bool WriteAtomically(const std::string& path, const std::string& bytes);

  IProfileStore& m_profile;
  IConfigFiles& m_files;
  ILogFileSystem* m_pLog;
  std::string m_strFile;
  bool m_bLoading = false;
};
