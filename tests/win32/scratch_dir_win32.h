#pragma once
// A fresh, empty working folder for one test; the previous current directory comes back after.
#include <windows.h>

#include <string>

class CScratchDir {
 public:
  CScratchDir();
  ~CScratchDir();
  const std::string& Path() const { return m_strPath; }
  std::string File(const std::string& name) const { return m_strPath + "\\" + name; }

 private:
  std::string m_strPath;
  std::string m_strPrevious;
};

std::string ReadWholeFile(const std::string& path);
bool FileExists(const std::string& path);

// Wine 8 makes neither junctions nor symbolic links, but shows a Unix symbolic link to a folder
// as a folder reparse point: under Wine that one stands in for a junction.
bool MakeWineFolderLink(const std::string& link, const std::string& target);
bool IsFolderLink(const std::string& path);
// Removes the link only, never what it leads to.
void RemoveFolderLink(const std::string& link);
