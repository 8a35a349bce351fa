#pragma once
// A recording filtering engine for the user-mode device's tests: it keeps the filters that a
// committed transaction left, the calls in order, and refuses what a test tells it to.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "wfpfilter/wfp_engine_port.h"

constexpr WfpStatus kFakeEngineRefusal = 0x80320009;  // FWP_E_ALREADY_EXISTS; any code will do

class CRecordingEngine : public IWfpEngine {
 public:
  std::map<uint64_t, CWfpFilterSpec> live;  // what the engine holds after the last commit
  std::vector<std::string> calls;          // "open", "begin", "add", "delete", "commit", "abort", "close"
  WfpStatus openResult = kWfpOk;
  int commitFailures = 0;  // the next this many commits fail
  // Refuses an add whose filter it names.
  std::function<bool(const CWfpFilterSpec&)> refuseAdd;
  bool open = false;

  WfpStatus Open() override {
    calls.push_back("open");
    if (openResult != kWfpOk) return openResult;
    open = true;
    return kWfpOk;
  }
  void Close() override {
    calls.push_back("close");
    open = false;
    live.clear();  // the session is dynamic
    m_inTxn = false;
  }
  WfpStatus BeginTransaction() override {
    calls.push_back("begin");
    m_pending = live;
    m_inTxn = true;
    return kWfpOk;
  }
  WfpStatus CommitTransaction() override {
    calls.push_back("commit");
    if (!m_inTxn) return kFakeEngineRefusal;
    if (commitFailures > 0) {
      --commitFailures;
      return kFakeEngineRefusal;
    }
    live = m_pending;
    m_inTxn = false;
    return kWfpOk;
  }
  WfpStatus AbortTransaction() override {
    calls.push_back("abort");
    m_inTxn = false;
    return kWfpOk;
  }
  WfpStatus AddFilter(const CWfpFilterSpec& filter, uint64_t* id) override {
    calls.push_back("add");
    if (refuseAdd && refuseAdd(filter)) return kFakeEngineRefusal;
    *id = ++m_nextId;
    Target()[*id] = filter;
    return kWfpOk;
  }
  WfpStatus DeleteFilter(uint64_t id) override {
    calls.push_back("delete");
    if (Target().erase(id) == 0) return 0x80320003;  // FWP_E_FILTER_NOT_FOUND
    return kWfpOk;
  }

  int Count(const std::string& call) const {
    int n = 0;
    for (const auto& c : calls) n += c == call;
    return n;
  }
  bool InTransaction() const { return m_inTxn; }

 private:
  std::map<uint64_t, CWfpFilterSpec>& Target() { return m_inTxn ? m_pending : live; }
  std::map<uint64_t, CWfpFilterSpec> m_pending;
  bool m_inTxn = false;
  uint64_t m_nextId = 1000;
};
