#pragma once
// The hooked build's stand-in logon guard (TAVRICK_HOOK_LOGON_GUARD=<file>): fixed settings,
// source states and rows of each kind (an exception and an internal address among the refused);
// every Save call is appended to the file as "save key=value ..." and answered "保存成功!", after
// which the first row counts one more failure.
#include <string>

void InstallRecordingLogonGuard(const std::string& file);
