#pragma once
// Drives another process's windows the way a person would: start it, find its windows,
// read and answer its message boxes. Every wait is bounded.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class CChildProcess {
 public:
  CChildProcess() = default;
  CChildProcess(const CChildProcess&) = delete;
  CChildProcess& operator=(const CChildProcess&) = delete;
  ~CChildProcess();  // ends the process if it still runs (End)

  // On failure it prints why (the system's error, and whether the folder is there) to stderr,
  // which the test's output shows.
  bool Start(const std::string& exePath, const std::string& arguments, const std::string& workDir);
  bool WaitExit(DWORD timeoutMs);
  // Ends the process if it still runs and waits until it is gone, windows included: the system
  // may give its id to the next program while the windows of the ended one still stand, and a
  // search by process id would then find them. false when not gone within the time.
  bool End(DWORD timeoutMs);
  DWORD ExitCode() const;
  bool Running() const;
  DWORD Pid() const { return m_pi.dwProcessId; }
  DWORD MainThreadId() const { return m_pi.dwThreadId; }

 private:
  PROCESS_INFORMATION m_pi = {};
};

// The live processes started from this file, found by their image path (for copies the test
// did not start itself: a service's or the updater's).
std::vector<DWORD> RunningProcessesOf(const std::string& image);

// The folder of the running test executable (tavrick.exe and the stand-ins sit beside it).
std::string ExeDir();
std::string TavrickExe();

// A visible or hidden top-level window of the process with this class ("" = any) and caption
// ("" = any), polled until the timeout; nullptr when none appeared. A window found is
// returned once its thread has finished setting it up (at most five seconds more).
HWND WaitForWindow(DWORD pid, const std::string& className, const std::string& caption, DWORD timeoutMs);

// Every top-level window of the process with this class and caption ("" = any), now.
std::vector<HWND> WindowsOf(DWORD pid, const std::string& className, const std::string& caption);

// Why a program the test started shows no window: whether it still runs (or its exit code),
// and each top-level window it has, with class, caption, visibility and a message box's text.
std::string DescribeProcessWindows(const CChildProcess& process);
// The system's text for an error code, with the number.
std::string SystemErrorText(DWORD error);

// Text of a standard message box (its static control 0xFFFF) and its caption.
std::string MessageBoxText(HWND box);
std::string WindowCaption(HWND window);

// Presses a message box button by command id (IDOK, IDYES, IDNO...).
void AnswerMessageBox(HWND box, int commandId);

// Polls `done` every 50 ms until it holds (true) or the timeout has passed (false).
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs);
// A window's round trip: a message sent to it and answered, in milliseconds (a window that
// does not answer within the limit counts as the limit).
DWORD RoundTripMs(HWND window, DWORD limitMs = 2000);

// An environment word for the programs a test starts, gone again with the test.
class CEnvironmentWord {
 public:
  CEnvironmentWord(const char* name, const std::string& value) : m_name(name) {
    SetEnvironmentVariableA(name, value.c_str());
  }
  ~CEnvironmentWord() { SetEnvironmentVariableA(m_name, nullptr); }
  CEnvironmentWord(const CEnvironmentWord&) = delete;
  CEnvironmentWord& operator=(const CEnvironmentWord&) = delete;

 private:
  const char* m_name;
};
