#include "webguard/guard_results.h"

#include <algorithm>
#include <iterator>

namespace {

// One scan's view: everything goes to the results, its face changes only while not called off.
class CScanView : public IWebGuardView {
 public:
  CScanView(CGuardResults& results, CGuardResults::CScanToken token) : m_results(results), m_token(std::move(token)) {}
  int RowCount() override { return m_results.RowCount(); }
  void InsertRow(int index, const std::string& id, const std::string& file, const std::string& type,
                 const std::string& time) override {
    m_results.InsertRow(index, id, file, type, time);
  }
  bool HasRow(const std::string& file, const std::string& type, int64_t nowMs) override {
    return m_results.HasRow(file, type, nowMs);
  }
  void InsertCheckedRow(int index, const std::string& id, const std::string& file, const std::string& type,
                        const std::string& time, int64_t nowMs) override {
    m_results.InsertCheckedRow(index, id, file, type, time, nowMs);
  }
  bool AutoScroll() override { return m_results.AutoScroll(); }
  void ScrollToRow(int row) override { m_results.ScrollToRow(row); }
  std::string FolderPath() override { return m_results.FolderPath(); }
  void ShowMessage(const std::string& text) override { m_results.ShowMessage(text); }
  void SetStatus(const std::string& text) override { m_results.SetFace(m_token.get(), &text, nullptr, nullptr); }
  void SetCounter(const std::string& text) override { m_results.SetFace(m_token.get(), nullptr, &text, nullptr); }
  void SetProgressRange(int low, int high, int step) override { m_results.SetProgressRange(low, high, step); }
  void SetProgressPosition(int position) override { m_results.SetFace(m_token.get(), nullptr, nullptr, &position); }
  void SetScanCaption(const std::string& text) override { m_results.SetScanCaption(text); }
  bool WindowExists() override { return m_results.WindowExists(); }

 private:
  CGuardResults& m_results;
  CGuardResults::CScanToken m_token;
};

std::string RowKey(const std::string& file, const std::string& type) { return file + '\0' + type; }

}  // namespace

std::vector<CGuardResults::CRow> CGuardResults::Rows() { return RowsFrom(0); }

std::vector<CGuardResults::CRow> CGuardResults::RowsFrom(size_t first) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (first >= m_rows.size()) return {};
  return std::vector<CRow>(m_rows.begin() + static_cast<std::ptrdiff_t>(first), m_rows.end());
}

void CGuardResults::RemoveFirst(size_t count) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_rows.erase(m_rows.begin(), m_rows.begin() + static_cast<std::ptrdiff_t>(std::min(count, m_rows.size())));
  for (size_t i = 0; i < m_rows.size(); ++i) m_rows[i].strId = std::to_string(i);
}

void CGuardResults::ClearFirst(size_t count) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_rows.erase(m_rows.begin(), m_rows.begin() + static_cast<std::ptrdiff_t>(std::min(count, m_rows.size())));
  for (size_t i = 0; i < m_rows.size(); ++i) m_rows[i].strId = std::to_string(i);
  // Only the rows still listed keep their paths quiet.
  std::unordered_map<std::string, int64_t> kept;
  for (const CRow& row : m_rows) {
    const std::string key = RowKey(row.strFile, row.strType);
    auto it = m_rowTimes.find(key);
    if (it != m_rowTimes.end()) kept.insert(*it);
  }
  m_rowTimes = std::move(kept);
}

void CGuardResults::SetFolder(const std::string& folder) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_strFolder = folder;
}

CScanFace CGuardResults::Face() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_face;
}

void CGuardResults::CallOff(const CScanToken& token) {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (token) *token = true;
    m_face = CScanFace{};
  }
  Changed();
}

std::unique_ptr<IWebGuardView> CGuardResults::ScanView(CScanToken token) {
  return std::make_unique<CScanView>(*this, std::move(token));
}

int CGuardResults::RowCount() {
  std::lock_guard<std::mutex> guard(m_lock);
  return static_cast<int>(m_rows.size());
}

void CGuardResults::InsertRow(int, const std::string&, const std::string& file, const std::string& type,
                              const std::string& time) {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_rows.push_back(CRow{std::to_string(m_rows.size()), file, type, time});
  }
  Changed();
}

void CGuardResults::InsertCheckedRow(int, const std::string&, const std::string& file, const std::string& type,
                                     const std::string& time, int64_t nowMs) {
  {
    // The count the checker read may be stale (the list was emptied meanwhile): the row goes
    // at the end, numbered by the rows there are now.
    std::lock_guard<std::mutex> guard(m_lock);
    m_rows.push_back(CRow{std::to_string(m_rows.size()), file, type, time});
    m_rowTimes[RowKey(file, type)] = nowMs;
    if (m_rowTimes.size() >= m_nPruneAt) {
      for (auto it = m_rowTimes.begin(); it != m_rowTimes.end();) {
        it = nowMs - it->second >= kRowQuietMs ? m_rowTimes.erase(it) : std::next(it);
      }
      m_nPruneAt = std::max<size_t>(64, m_rowTimes.size() * 2);
    }
  }
  Changed();
}

bool CGuardResults::HasRow(const std::string& file, const std::string& type, int64_t nowMs) {
  std::lock_guard<std::mutex> guard(m_lock);
  for (const CRow& row : m_rows) {
    if (row.strFile == file && row.strType == type) return true;
  }
  // Gone to the log: quiet for a while, so a content that keeps changing is not an alert a minute.
  const auto it = m_rowTimes.find(RowKey(file, type));
  return it != m_rowTimes.end() && nowMs - it->second < kRowQuietMs;
}

std::string CGuardResults::FolderPath() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_strFolder;
}

void CGuardResults::SetFace(const std::atomic<bool>* calledOff, const std::string* status,
                            const std::string* counter, const int* progress) {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (calledOff && *calledOff) return;
    if (status) m_face.strStatus = *status;
    if (counter) m_face.strCounter = *counter;
    if (progress) m_face.nProgress = *progress;
  }
  Changed();
}

void CGuardResults::Changed() {
  if (!m_bChangeAsked.exchange(true) && !m_pWindow->Changed()) m_bChangeAsked = false;
}
