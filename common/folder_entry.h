#pragma once
#include <string>

// One name found in a folder, as the folder walks (log clean-up, web folder scan) see it.
struct CFolderEntry {
  std::string strName;
  bool bDirectory = false;
  bool bReparsePoint = false;  // a junction or symbolic link: it may lead out of the folder
};
