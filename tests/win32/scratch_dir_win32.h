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
// Appends as a log writer does, sharing the file with its readers; creates it when missing.
bool AppendToFile(const std::string& path, const std::string& bytes);
// The files of `folder` whose names fit `pattern` (FindFirstFile's), each followed by `after`.
std::string ReadFilesMatching(const std::string& folder, const std::string& pattern, const std::string& after = "");
// Every configuration log line of the run: log\cfg*.txt under the program's working folder.
std::string ConfigLogOf(const std::string& dir);

// Wine 8 makes neither junctions nor symbolic links, but shows a Unix symbolic link to a folder
// as a folder reparse point: under Wine that one stands in for a junction.
bool MakeWineFolderLink(const std::string& link, const std::string& target);
bool IsFolderLink(const std::string& path);
// Removes the link only, never what it leads to.
void RemoveFolderLink(const std::string& link);
