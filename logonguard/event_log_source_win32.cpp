#include "logonguard/event_log_source_win32.h"

#include <windows.h>
#include <winevt.h>

#include <map>
#include <mutex>
#include <vector>

#include "logonguard/event_xml.h"
#include "logonguard/guard_core.h"
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

constexpr DWORD kChannelNotFound = 15007;  // ERROR_EVT_CHANNEL_NOT_FOUND
constexpr DWORD kInvalidQuery = 15001;     // ERROR_EVT_INVALID_QUERY

std::string ErrorText(const char* what, DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED: return std::string("无权读取") + what + "(需要管理员权限)";
    case kChannelNotFound: return std::string("找不到") + what;
    default: return std::string("无法订阅") + what + "(错误" + std::to_string(error) + ")";
  }
}

// What a later attempt cannot change: no such log (a server without remote desktop), no access,
// no subscriptions at all (Wine). Anything else (the event log service not running yet) is tried
// again after the guard's pause.
bool Lasting(DWORD error) {
  return error == ERROR_SUCCESS || error == ERROR_CALL_NOT_IMPLEMENTED || error == kChannelNotFound ||
         error == ERROR_ACCESS_DENIED || error == kInvalidQuery;
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
  EEventChannel eChannel = EEventChannel::kSecurity;
  const char* What() const { return EventChannelName(eChannel); }
  void Report(bool available, const std::string& text) const {
    switch (eChannel) {
      case EEventChannel::kApplication: inbox->Report(EGuardSource::kSqlServer, available, text); break;
      case EEventChannel::kRemoteDesktop: inbox->ReportRemoteDesktop(available, text); break;
      default: inbox->Report(EGuardSource::kEventLog, available, text); break;
    }
  }
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
  // Only the records of the subscription's own log (its record numbers are the position's).
  if (read.eOutcome == ELogonOutcome::kNone || read.eChannel != context.eChannel) return;
  // Any program may write 18456 under any source name: only a SQL Server instance that is
  // installed here counts.
  if (context.eChannel == EEventChannel::kApplication && !IsInstalledService(read.strProvider)) return;
  // A full queue holds the channel: this record is read again when the guard subscribes anew.
  context.inbox->Push(read);
}

DWORD WINAPI OnEvent(EVT_SUBSCRIBE_NOTIFY_ACTION action, PVOID parameter, EVT_HANDLE event) {
  auto& context = *static_cast<CEventLogSource::CContext*>(parameter);
  try {
    if (action == EvtSubscribeActionError) {
      // The subscription ends (a cleared log, a restarted event log service): the guard makes
      // it again after its pause, from the last record queued.
      const DWORD error = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(event));
      context.inbox->ChannelFailed(context.eChannel);
      context.Report(false, ErrorText(context.What(), error));
    } else if (action == EvtSubscribeActionDeliver) {
      Take(context, event);
    }
  } catch (...) {
    // One event that could not be read is skipped; the subscription goes on.
  }
  return ERROR_SUCCESS;
}

}  // namespace

CEventLogSource::CEventLogSource(std::shared_ptr<CGuardInbox> inbox, EEventChannel channel)
    : m_context(std::make_shared<CContext>()) {
  m_context->inbox = std::move(inbox);
  m_context->eChannel = channel;
}

EEventChannel CEventLogSource::Channel() const { return m_context->eChannel; }

bool CEventLogSource::Start(uint64_t afterRecord) {
  Stop();
  CContext& context = *m_context;
  CEventLogApi& api = Api();
  if (!api.strMissing.empty()) {
    context.Report(false, api.strMissing);
    return false;
  }
  context.inbox->StartChannel(context.eChannel, afterRecord);
  const std::string path = EventLogChannelPath(context.eChannel);
  const std::wstring channel(path.begin(), path.end());
  const std::string queryText = EventLogQuery(context.eChannel);
  const std::wstring query(queryText.begin(), queryText.end());
  EVT_HANDLE bookmark = nullptr;
  if (afterRecord > 0) {
    const std::wstring xml = L"<BookmarkList><Bookmark Channel='" + channel + L"' RecordId='" +
                             std::to_wstring(afterRecord) + L"' IsCurrent='true'/></BookmarkList>";
    bookmark = api.createBookmark(xml.c_str());
  }
  // Without the strict flag a bookmark whose record is gone (a cleared log) starts at the
  // nearest later event.
  const DWORD flags = bookmark ? EvtSubscribeStartAfterBookmark : EvtSubscribeToFutureEvents;
  SetLastError(ERROR_SUCCESS);
  EVT_HANDLE subscription =
      api.subscribe(nullptr, nullptr, channel.c_str(), query.c_str(), bookmark, &context, OnEvent, flags);
  const DWORD error = GetLastError();
  if (bookmark) api.close(bookmark);
  if (!subscription) {
    context.Report(false, error == ERROR_SUCCESS || error == ERROR_CALL_NOT_IMPLEMENTED
                              ? std::string("系统不支持事件日志订阅,无法读取") + context.What()
                              : ErrorText(context.What(), error));
    if (!Lasting(error)) context.inbox->ChannelFailed(context.eChannel);
    return false;
  }
  m_hSubscription = subscription;
  // Said only while no error has come from the first callbacks: that error stands.
  if (!context.inbox->Channel(context.eChannel).bFailed) context.Report(true, std::string("正在监视") + context.What());
  return true;
}

void CEventLogSource::Stop() {
  if (!m_hSubscription) return;
  // Closing waits for a callback in progress, so the context outlives every callback.
  Api().close(static_cast<EVT_HANDLE>(m_hSubscription));
  m_hSubscription = nullptr;
}
