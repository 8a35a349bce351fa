#pragma once
// The website protection window's result list and scan controls as its worker threads see
// them: kept here under a lock, and shown by the window when it is told of a change. Workers
// never touch the window itself; a change only asks it (once until it looks) to show what is
// here.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "webguard/script_checker.h"

// How the results reach the window (posts in the program).
class IGuardWindow {
 public:
  virtual ~IGuardWindow() = default;
  // Something new to show; false when the window could not be told (gone, or its message
  // queue full), so the next change asks again.
  virtual bool Changed() = 0;
  virtual void Message(const std::string& text) = 0;  // a message box for the administrator
  virtual bool Exists() = 0;
};

// What a scan shows beside its button.
struct CScanFace {
  std::string strStatus;   // current file
  std::string strCounter;  // "共:%d\r\n查:%d"
  int nProgress = 0;
};

class CGuardResults : public IWebGuardView {
 public:
  struct CRow {
    std::string strId, strFile, strType, strTime;
  };
  using CScanToken = std::shared_ptr<std::atomic<bool>>;

  explicit CGuardResults(std::unique_ptr<IGuardWindow> window) : m_pWindow(std::move(window)) {}

  // For the window's thread.
  std::vector<CRow> Rows();
  std::vector<CRow> RowsFrom(size_t first);
  // Drops the first `count` rows (those the log took); rows added since stay, numbered again
  // from 0. Their paths stay quiet for kRowQuietMs from their rows' time.
  void RemoveFirst(size_t count);
  // The administrator empties the list of the `count` rows it shows: as RemoveFirst, and every
  // path may be listed again at once.
  void ClearFirst(size_t count);
  void SetFolder(const std::string& folder);
  void SetAutoScroll(bool on) { m_bAutoScroll = on; }
  CScanFace Face();
  // The window looks now: later changes ask it again.
  void Seen() { m_bChangeAsked = false; }
  // Calls a scan off: its token is set and, from here on, it changes nothing that is shown;
  // the scan's line, counter and progress go back to rest.
  void CallOff(const CScanToken& token);

  // The view of one folder scan: the results, with scan-face changes that count only until
  // the scan is called off.
  std::unique_ptr<IWebGuardView> ScanView(CScanToken token);

  // IWebGuardView, for the checker. Rows are appended; a row's ID is the number of rows the
  // list held before it.
  int RowCount() override;
  void InsertRow(int index, const std::string& id, const std::string& file, const std::string& type,
                 const std::string& time) override;
  bool HasRow(const std::string& file, const std::string& type, int64_t nowMs) override;
  void InsertCheckedRow(int index, const std::string& id, const std::string& file, const std::string& type,
                        const std::string& time, int64_t nowMs) override;
  bool AutoScroll() override { return m_bAutoScroll; }
  void ScrollToRow(int) override { Changed(); }
  std::string FolderPath() override;
  void ShowMessage(const std::string& text) override { m_pWindow->Message(text); }
  void SetStatus(const std::string& text) override { SetFace(nullptr, &text, nullptr, nullptr); }
  void SetCounter(const std::string& text) override { SetFace(nullptr, nullptr, &text, nullptr); }
  void SetProgressRange(int, int, int) override {}  // the window's bar is always 0 to 100
  void SetProgressPosition(int position) override { SetFace(nullptr, nullptr, nullptr, &position); }
  void SetScanCaption(const std::string&) override { Changed(); }  // the window reads the scan flag
  bool WindowExists() override { return m_pWindow->Exists(); }

  // A face change, dropped when the token says the scan was called off.
  void SetFace(const std::atomic<bool>* calledOff, const std::string* status, const std::string* counter,
               const int* progress);

 private:
  void Changed();

  std::unique_ptr<IGuardWindow> m_pWindow;
  std::mutex m_lock;
  std::vector<CRow> m_rows;
  // When each path and type got its last row (the checker's clock), listed or logged since;
  // entries past kRowQuietMs go when the table has doubled.
  std::unordered_map<std::string, int64_t> m_rowTimes;
  size_t m_nPruneAt = 64;
  std::string m_strFolder;
  CScanFace m_face;
  std::atomic<bool> m_bAutoScroll{true};
  std::atomic<bool> m_bChangeAsked{false};
};
