#include "ui/dialog_win32.h"

#include <vector>

#include "ui/handler_guard.h"
#include "ui/message_pump_win32.h"

namespace {
HINSTANCE g_hResourceModule = nullptr;

bool IsOwnerDrawnButton(HWND control) {
  char cls[16] = {};
  if (control == nullptr || !GetClassNameA(control, cls, sizeof cls) || lstrcmpiA(cls, "Button") != 0) return false;
  return (GetWindowLongPtrA(control, GWL_STYLE) & BS_TYPEMASK) == BS_OWNERDRAW;
}
}  // namespace

void SetResourceModule(HINSTANCE module) { g_hResourceModule = module; }
HINSTANCE ResourceModule() { return g_hResourceModule ? g_hResourceModule : GetModuleHandleA(nullptr); }

CDialog::CDialog(UINT templateId, HWND owner) : m_hOwner(owner), m_nTemplateId(templateId) {}

CDialog::~CDialog() {
  // Deleted directly (a modal dialog on the caller's stack): the window is detached before it
  // goes, so no handler of a half-destroyed object can run.
  if (m_hWnd && IsWindow(m_hWnd)) {
    SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
    DestroyWindow(m_hWnd);
  }
}

CDialog* CDialog::FromWindow(HWND hWnd) {
  if (!hWnd) return nullptr;
  char cls[16] = {};
  GetClassNameA(hWnd, cls, sizeof(cls));
  if (lstrcmpA(cls, "#32770") != 0) return nullptr;
  if (GetWindowLongPtrA(hWnd, DWLP_DLGPROC) != reinterpret_cast<LONG_PTR>(&CDialog::DialogProc)) return nullptr;
  return reinterpret_cast<CDialog*>(GetWindowLongPtrA(hWnd, DWLP_USER));
}

bool CDialog::Create() {
  m_bWindowGone = false;
  m_bFinished = false;
  m_hWnd = CreateDialogParamA(ResourceModule(), MAKEINTRESOURCEA(m_nTemplateId), m_hOwner, DialogProc,
                              reinterpret_cast<LPARAM>(this));
  return m_hWnd != nullptr;
}

INT_PTR CDialog::DoModal() {
  m_bEndModal = false;
  if (!Create()) return -1;
  const HWND owner = m_hOwner;
  const bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  ::ShowWindow(m_hWnd, SW_SHOW);
  RunMessageLoop([this] { return m_bEndModal || !m_hWnd; });
  if (ownerWasEnabled) EnableWindow(owner, TRUE);
  const INT_PTR result = m_nModalResult;
  Destroy();
  return result;
}

void CDialog::EndModal(INT_PTR result) {
  m_nModalResult = result;
  m_bEndModal = true;
  PostMessageA(m_hWnd, WM_NULL, 0, 0);  // wake the loop
}

void CDialog::Destroy() {
  const HWND window = m_hWnd;
  if (window && IsWindow(window)) DestroyWindow(window);
  // Nothing may follow: a self-owned dialog can be gone by now.
}

void CDialog::DeleteWhenIdle() {
  m_bDeletePending = true;
  ++m_nRunning;  // the destroy below must not free the object under this frame
  Destroy();
  --m_nRunning;
  AfterHandler();
}

void CDialog::AfterHandler() {
  if (m_nRunning != 0) return;
  if (m_bDeletePending) {
    if (m_bWindowGone || !m_hWnd) delete this;
    return;
  }
  if (m_bWindowGone && !m_bFinished) {
    m_bFinished = true;
    PostNcDestroy();  // may free the object
  }
}

void CDialog::SetItemText(int id, const std::string& text) { SetDlgItemTextA(m_hWnd, id, text.c_str()); }

std::string CDialog::ItemText(int id) const {
  HWND item = Item(id);
  if (!item) return std::string();
  const int length = GetWindowTextLengthA(item);
  std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
  GetWindowTextA(item, buffer.data(), length + 1);
  return std::string(buffer.data());
}

bool CDialog::IsChecked(int id) const { return IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED; }
void CDialog::SetChecked(int id, bool checked) { CheckDlgButton(m_hWnd, id, checked ? BST_CHECKED : BST_UNCHECKED); }

CIconButton& CDialog::IconButton(int id) {
  CIconButton& button = m_iconButtons[id];
  button.Attach(m_hWnd, id);
  return button;
}

bool CDialog::PreTranslateMessage(MSG*) { return false; }

bool CDialog::OnCommand(int id, int) {
  // The dialog manager turns Enter/Escape into IDOK/IDCANCEL; no dialog ends that way.
  return id == IDOK || id == IDCANCEL;
}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialog* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CDialog*>(lParam);
    SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
    self->m_hWnd = hWnd;
  } else {
    self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hWnd, DWLP_USER));
  }
  if (!self) return FALSE;
  ++self->m_nRunning;
  INT_PTR handled = FALSE;
  RunGuarded([&] { handled = self->Dispatch(hWnd, message, wParam, lParam); });
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hWnd, DWLP_USER, 0);
    if (self->m_hWnd == hWnd) self->m_hWnd = nullptr;
    self->m_bWindowGone = true;
  }
  --self->m_nRunning;
  self->AfterHandler();  // may free self: nothing below touches it
  return handled;
}

INT_PTR CDialog::Dispatch(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_COMMAND:
      // An owner-drawn button follows the click of a double click with BN_DOUBLECLICKED: a
      // handler acting on both would undo its own toggle (pause, then resume at once).
      if (HIWORD(wParam) == BN_DOUBLECLICKED && IsOwnerDrawnButton(reinterpret_cast<HWND>(lParam))) return TRUE;
      return OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    case WM_TIMER:
      OnTimer(wParam);
      return TRUE;
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      auto it = m_iconButtons.find(static_cast<int>(item->CtlID));
      if (it != m_iconButtons.end()) {
        it->second.Draw(item);
        return TRUE;
      }
      break;
    }
    case WM_DESTROY:
      OnDestroy();
      break;
    default:
      break;
  }
  LRESULT result = 0;
  if (!OnMessage(message, wParam, lParam, result)) return FALSE;
  switch (message) {
    // These return their value directly instead of through DWLP_MSGRESULT.
    case WM_CTLCOLORMSGBOX: case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX: case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG: case WM_CTLCOLORSCROLLBAR: case WM_CTLCOLORSTATIC: case WM_COMPAREITEM:
    case WM_VKEYTOITEM: case WM_CHARTOITEM: case WM_QUERYDRAGICON:
      return static_cast<INT_PTR>(result);
    default:
      // The window's own handle: the handler may have destroyed the window meanwhile.
      if (IsWindow(hWnd)) SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, result);
      return TRUE;
  }
}
