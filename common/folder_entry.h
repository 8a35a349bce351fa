#pragma once
#include <string>
#include <utility>

// One name found in a folder, as the folder walks (log clean-up, web folder scan) see it.
struct CFolderEntry {
  CFolderEntry() = default;
  CFolderEntry(std::string name, bool directory, std::u16string wideName = std::u16string())
      : strName(std::move(name)), bDirectory(directory), wstrName(std::move(wideName)) {}

  std::string strName;
  bool bDirectory = false;
  bool bReparsePoint = false;  // a junction or symbolic link: it may lead out of the folder
  std::u16string wstrName;  // the name as the system gave it, where the walk asks for it
};
