#include "logonguard/event_log_source_win32.h"

#include <windows.h>
#include <winevt.h>

#include <map>
#include <mutex>
#include <vector>

#include "logonguard/event_xml.h"
#include "logonguard/log_text_win32.h"

namespace {

constexpr DWORD kMaxRenderedChars = 128 * 1024;  // an event's XML beyond this is not read
constexpr size_t kMaxServiceNames = 32;          // provider names remembered

using EvtSubscribeFn = EVT_HANDLE(WINAPI*)(EVT_HANDLE, HANDLE, LPCWSTR, LPCWSTR, EVT_HANDLE, PVOID,
                                           EVT_SUBSCRIBE_CALLBACK, DWORD);
using EvtRenderFn = BOOL(WINAPI*)(EVT_HANDLE, EVT_HANDLE, DWORD, DWORD, PVOID, PDWORD, PDWORD);
using EvtCloseFn = BOOL(WINAPI*)(EVT_HANDLE);
using EvtCreateBookmarkFn = EVT_HANDLE(WINAPI*)(LPCWSTR);

// The event log functions, from the system folder's wevtapi.dll, loaded once and never unloaded
// (a subscription's callback may still run while the program ends).
struct CEventLogApi {
  EvtSubscribeFn subscribe = nullptr;
  EvtRenderFn render = nullptr;
  EvtCloseFn close = nullptr;
  EvtCreateBookmarkFn createBookmark = nullptr;
  std::string strMissing;  // why it cannot be used; empty when it can

  CEventLogApi() {
    char system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(system, MAX_PATH);
    HMODULE module = length > 0 && length < MAX_PATH ? LoadLibraryA((std::string(system) + "\\wevtapi.dll").c_str())
                                                     : nullptr;
    if (!module) {
      strMissing = "系统没有事件日志接口wevtapi.dll";
      return;
    }
    subscribe = Load<EvtSubscribeFn>(module, "EvtSubscribe");
    render = Load<EvtRenderFn>(module, "EvtRender");
    close = Load<EvtCloseFn>(module, "EvtClose");
    createBookmark = Load<EvtCreateBookmarkFn>(module, "EvtCreateBookmark");
  }
  template <class Fn>
  Fn Load(HMODULE module, const char* name) {
    Fn fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!fn && strMissing.empty()) strMissing = std::string("系统的事件日志接口缺少") + name;
    return fn;
  }
};

CEventLogApi& Api() {
  static CEventLogApi api;
  return api;
}

static_assert(sizeof(wchar_t) == sizeof(char16_t), "EvtRender's text is UTF-16");

std::string ErrorText(const char* what, DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED: return std::string("无权读取") + what + "(需要管理员权限)";
    case 15007: return std::string("找不到") + what;  // ERROR_EVT_CHANNEL_NOT_FOUND
    default: return std::string("无法订阅") + what + "(错误" + std::to_string(error) + ")";
  }
}

}  // namespace

bool IsInstalledService(const std::string& name) {
  static std::mutex lock;
  static std::map<std::string, bool> known;
  {
    std::lock_guard<std::mutex> hold(lock);
    auto it = known.find(name);
    if (it != known.end()) return it->second;
  }
  bool installed = false;
  if (SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)) {
    if (SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS)) {
      installed = true;
      CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
  }
  std::lock_guard<std::mutex> hold(lock);
  if (known.size() < kMaxServiceNames) known[name] = installed;
  return installed;
}

struct CEventLogSource::CContext {
  std::shared_ptr<CGuardInbox> inbox;
  EEventLogKind eKind = EEventLogKind::kSecurity;
  EGuardSource Which() const { return eKind == EEventLogKind::kSecurity ? EGuardSource::kEventLog : EGuardSource::kSqlServer; }
  const char* What() const { return eKind == EEventLogKind::kSecurity ? "安全日志" : "应用程序日志"; }
};

namespace {

void Take(CEventLogSource::CContext& context, EVT_HANDLE event) {
  CEventLogApi& api = Api();
  DWORD used = 0, properties = 0;
  api.render(nullptr, event, EvtRenderEventXml, 0, nullptr, &used, &properties);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || used == 0 || used / sizeof(wchar_t) > kMaxRenderedChars) return;
  std::vector<wchar_t> buffer(used / sizeof(wchar_t) + 1);
  if (!api.render(nullptr, event, EvtRenderEventXml, static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), buffer.data(),
                  &used, &properties))
    return;
  const size_t chars = used / sizeof(wchar_t);
  int length = static_cast<int>(chars < buffer.size() ? chars : buffer.size());
  while (length > 0 && buffer[static_cast<size_t>(length) - 1] == L'\0') --length;
  // Parsed as UTF-16 itself: converting the whole text to the ANSI code page first would let
  // best-fit mapping turn a fullwidth '<' in a user name into markup.
  const CLogonEvent read =
      ReadEventXmlUtf16(reinterpret_cast<const char16_t*>(buffer.data()), static_cast<size_t>(length), Utf8ToAnsi);
  if (read.eOutcome == ELogonOutcome::kNone) return;
  if (context.eKind == EEventLogKind::kSqlServer) {
    // Any program may write 18456 under any source name: only a SQL Server instance that is
    // installed here counts.
    if (read.eSource != ELogonSource::kSqlServer || !IsInstalledService(read.strProvider)) return;
  } else if (read.eSource == ELogonSource::kSqlServer || read.eSource == ELogonSource::kFtp) {
    return;
  }
  context.inbox->Push(read);
}

DWORD WINAPI OnEvent(EVT_SUBSCRIBE_NOTIFY_ACTION action, PVOID parameter, EVT_HANDLE event) {
  auto& context = *static_cast<CEventLogSource::CContext*>(parameter);
  try {
    if (action == EvtSubscribeActionError) {
      const DWORD error = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(event));
      context.inbox->Report(context.Which(), false, ErrorText(context.What(), error));
    } else if (action == EvtSubscribeActionDeliver) {
      Take(context, event);
    }
  } catch (...) {
    // One event that could not be read is skipped; the subscription goes on.
  }
  return ERROR_SUCCESS;
}

}  // namespace

CEventLogSource::CEventLogSource(std::shared_ptr<CGuardInbox> inbox, EEventLogKind kind, uint64_t afterRecord)
    : m_context(std::make_shared<CContext>()) {
  m_context->inbox = std::move(inbox);
  m_context->eKind = kind;
  m_nAfterRecord = afterRecord;
}

bool CEventLogSource::Start() {
  CContext& context = *m_context;
  CEventLogApi& api = Api();
  if (!api.strMissing.empty()) {
    context.inbox->Report(context.Which(), false, api.strMissing);
    return false;
  }
  const bool security = context.eKind == EEventLogKind::kSecurity;
  const wchar_t* channel = security ? L"Security" : L"Application";
  const wchar_t* query = security ? L"*[System[(EventID=4625 or EventID=4624)]]" : L"*[System[EventID=18456]]";
  EVT_HANDLE bookmark = nullptr;
  if (m_nAfterRecord > 0) {
    const std::wstring xml = std::wstring(L"<BookmarkList><Bookmark Channel='") + channel + L"' RecordId='" +
                             std::to_wstring(m_nAfterRecord) + L"' IsCurrent='true'/></BookmarkList>";
    bookmark = api.createBookmark(xml.c_str());
  }
  // Without the strict flag a bookmark whose record is gone (a cleared log) starts at the
  // nearest later event.
  const DWORD flags = bookmark ? EvtSubscribeStartAfterBookmark : EvtSubscribeToFutureEvents;
  // Said before the subscription exists: an error its first callback reports must stand.
  context.inbox->Report(context.Which(), true, std::string("正在监视") + context.What());
  SetLastError(ERROR_SUCCESS);
  EVT_HANDLE subscription = api.subscribe(nullptr, nullptr, channel, query, bookmark, &context, OnEvent, flags);
  const DWORD error = GetLastError();
  if (bookmark) api.close(bookmark);
  if (!subscription) {
    context.inbox->Report(context.Which(), false,
                          error == ERROR_SUCCESS || error == ERROR_CALL_NOT_IMPLEMENTED
                              ? std::string("系统不支持事件日志订阅,无法读取") + context.What()
                              : ErrorText(context.What(), error));
    return false;
  }
  m_hSubscription = subscription;
  return true;
}

void CEventLogSource::Stop() {
  if (!m_hSubscription) return;
  // Closing waits for a callback in progress, so the context outlives every callback.
  Api().close(static_cast<EVT_HANDLE>(m_hSubscription));
  m_hSubscription = nullptr;
}
