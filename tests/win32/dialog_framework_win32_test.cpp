// The window framework in this process: the key rule in every loop, dialog lifetime, the
// catch-all per handler, posts from workers, and the tray's shell-restart notice.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/tray_icon_win32.h"
#include "tavrick_session_win32.h"
#include "test_dialogs.h"
#include "ui/custfrm_win32.h"
#include "ui/dialog_win32.h"
#include "ui/message_pump_win32.h"
#include "ui/modeless_dialog_win32.h"
#include "ui/window_post_win32.h"

namespace {

constexpr UINT kEndWith = WM_APP + 7;  // ends the modal run with wParam

template <typename Done>
bool WaitUntil(Done done) {
  for (int i = 0; i < 100; ++i) {
    if (done()) return true;
    PumpMessagesAndWait(50);
  }
  return done();
}

// A dialog that ends on IDOK and IDCANCEL, as any form with OK and Cancel buttons would.
// Its initialisation queues Enter and Escape for the first field, then kEndWith 42.
template <typename Base>
class CFormEndingOnOkCancel : public Base {
 public:
  CFormEndingOnOkCancel() : Base(IDD_TEST_FORM) {}

 protected:
  BOOL OnInitDialog() override {
    Base::OnInitDialog();
    HWND field = this->Item(IDC_TEST_FIRST);
    SetFocus(field);
    for (WPARAM key : {WPARAM(VK_RETURN), WPARAM(VK_ESCAPE)}) {
      PostMessageA(field, WM_KEYDOWN, key, 0);
      PostMessageA(field, WM_CHAR, key, 0);
      PostMessageA(field, WM_KEYUP, key, 0);
    }
    PostMessageA(this->m_hWnd, kEndWith, 42, 0);
    return FALSE;
  }
  bool OnCommand(int id, int code) override {
    if (id != IDOK && id != IDCANCEL) return Base::OnCommand(id, code);
    this->EndModal(id);
    return true;
  }
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
    if (message != kEndWith) return Base::OnMessage(message, wParam, lParam, result);
    this->EndModal(static_cast<INT_PTR>(wParam));
    return true;
  }
};

TEST(KeyRule, EnterAndEscapeNeverEndADialogOfTheCommonBase) {
  CFormEndingOnOkCancel<Ccustfrm> form;
  EXPECT_EQ(42, form.DoModal());
  // The same form on the bare framework, without the rule, ends at the first Enter: the test
  // would see it.
  CFormEndingOnOkCancel<CDialog> bare;
  EXPECT_EQ(IDOK, bare.DoModal());
}

class CModelessForm : public Ccustfrm {
 public:
  CModelessForm() : Ccustfrm(IDD_TEST_FORM) {}
  int okPressed = 0;

 protected:
  bool OnCommand(int id, int code) override {
    if (id == IDOK) ++okPressed;
    return Ccustfrm::OnCommand(id, code);
  }
};

TEST(KeyRule, TheWaitsPumpKeepsTheRuleAndTheNavigation) {
  CModelessForm form;
  ASSERT_TRUE(form.Create());
  form.ShowWindow(SW_SHOW);
  SetForegroundWindow(form.Hwnd());
  SetFocus(form.Item(IDC_TEST_FIRST));
  ASSERT_EQ(form.Item(IDC_TEST_FIRST), GetFocus());
  PostMessageA(form.Item(IDC_TEST_FIRST), WM_KEYDOWN, VK_RETURN, 0);
  PostMessageA(form.Item(IDC_TEST_FIRST), WM_KEYDOWN, VK_TAB, 0);
  PumpMessagesAndWait(200);  // what the paced list load and the stop's wait run
  EXPECT_EQ(0, form.okPressed) << "Enter pressed the default button during a wait";
  EXPECT_EQ(form.Item(IDC_TEST_SECOND), GetFocus()) << "Tab did not move on during a wait";
  form.Destroy();
}

// A pause button that toggles on each press it hears of.
class CToggleForm : public Ccustfrm {
 public:
  CToggleForm() : Ccustfrm(IDD_TEST_BUTTONS) {}
  int toggles = 0;
  std::vector<int> codes;

 protected:
  BOOL OnInitDialog() override {
    Ccustfrm::OnInitDialog();
    IconButton(IDC_TEST_OWNERDRAWN);
    return TRUE;
  }
  bool OnCommand(int id, int code) override {
    if (id != IDC_TEST_OWNERDRAWN && id != IDC_TEST_PLAIN) return Ccustfrm::OnCommand(id, code);
    codes.push_back(code);
    ++toggles;
    return true;
  }
};

// A double click on an owner-drawn button is its click and then a BN_DOUBLECLICKED notice; acting
// on both would pause and resume at once. Handlers hear of the click only.
TEST(Buttons, ADoubleClickOnAnOwnerDrawnButtonActsOnce) {
  CToggleForm form;
  ASSERT_TRUE(form.Create());
  form.ShowWindow(SW_SHOW);
  for (int id : {IDC_TEST_OWNERDRAWN, IDC_TEST_PLAIN}) {
    form.toggles = 0;
    form.codes.clear();
    HWND button = form.Item(id);
    RECT rc;
    GetClientRect(button, &rc);
    const LPARAM middle = MAKELPARAM(rc.right / 2, rc.bottom / 2);
    for (UINT mouse : {UINT(WM_LBUTTONDOWN), UINT(WM_LBUTTONUP), UINT(WM_LBUTTONDBLCLK), UINT(WM_LBUTTONUP)}) {
      PostMessageA(button, mouse, mouse == WM_LBUTTONUP ? 0 : MK_LBUTTON, middle);
    }
    PumpMessagesAndWait(200);
    if (id == IDC_TEST_OWNERDRAWN) {
      EXPECT_EQ(1, form.toggles) << "double click on the owner-drawn button";
      EXPECT_EQ(std::vector<int>{BN_CLICKED}, form.codes);
    } else {
      EXPECT_EQ(2, form.toggles) << "a plain button takes the second click as a press";
    }
  }
  // The notice itself, sent as the button would: never reaches the handler.
  form.toggles = 0;
  SendMessageA(form.Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_TEST_OWNERDRAWN, BN_DOUBLECLICKED),
               reinterpret_cast<LPARAM>(form.Item(IDC_TEST_OWNERDRAWN)));
  EXPECT_EQ(0, form.toggles);
  form.Destroy();
}

// ---- lifetime ---------------------------------------------------------------------------------

// One dialog at a time lives in this arena; freeing fills it, so any later write shows.
alignas(16) unsigned char g_arena[16384];
bool g_bFreed = false;

bool ArenaUntouchedSinceFree() {
  if (!g_bFreed) return false;
  for (unsigned char b : g_arena)
    if (b != 0xDD) return false;
  return true;
}

template <typename Base>
class CInArena : public Base {
 public:
  using Base::Base;
  static void* operator new(size_t size) {
    if (size > sizeof g_arena) throw std::bad_alloc();
    g_bFreed = false;
    std::memset(g_arena, 0xAA, sizeof g_arena);
    return g_arena;
  }
  static void operator delete(void*) {
    std::memset(g_arena, 0xDD, sizeof g_arena);
    g_bFreed = true;
  }
};

std::vector<std::string> g_events;

// Self-owned: closing it destroys its window from inside the handler; it deletes itself.
class CSelfClosing : public Ccustfrm {
 public:
  CSelfClosing() : Ccustfrm(IDD_TEST_FORM) {}
  int afterDestroy = 0;

 protected:
  bool OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) override {
    if (message != WM_CLOSE) return false;
    Destroy();
    afterDestroy = 1;  // the handler still owns a live object
    g_events.push_back("handler returns");
    result = 0;
    return true;
  }
  void PostNcDestroy() override {
    g_events.push_back("freed");
    delete this;
  }
};

TEST(DialogLifetime, ASelfOwnedDialogIsFreedOnlyAfterItsHandlerAndNeverTouchedAfter) {
  g_events.clear();
  auto* dialog = new CInArena<CSelfClosing>();
  ASSERT_TRUE(dialog->Create());
  const HWND window = dialog->Hwnd();
  SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);  // the title bar's close button
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ((std::vector<std::string>{"handler returns", "freed"}), g_events);
  EXPECT_TRUE(ArenaUntouchedSinceFree());
}

// Owned: its handler drops the owning pointer, then keeps running a nested loop.
class COwnedForm : public Ccustfrm {
 public:
  COwnedForm() : Ccustfrm(IDD_TEST_FORM) {}
  DialogPtr<>* owner = nullptr;
  int after = 0;

 protected:
  bool OnCommand(int id, int code) override {
    if (id != IDC_TEST_FIRST || code != 0) return Ccustfrm::OnCommand(id, code);
    owner->reset();  // as when the owner replaces it while one of its handlers waits
    PumpMessagesAndWait(50);
    after = 1;
    g_events.push_back("handler returns");
    return true;
  }
  void OnDestroy() override { g_events.push_back("window destroyed"); }
};

TEST(DialogLifetime, DroppingAnOwnedDialogDuringItsHandlerFreesItAfterTheHandler) {
  g_events.clear();
  DialogPtr<> holder(new CInArena<COwnedForm>());
  static_cast<COwnedForm*>(holder.get())->owner = &holder;
  ASSERT_TRUE(holder->Create());
  const HWND window = holder->Hwnd();
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_TEST_FIRST, 0), 0);
  EXPECT_EQ(nullptr, holder.get());
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ((std::vector<std::string>{"window destroyed", "handler returns"}), g_events);
  EXPECT_TRUE(ArenaUntouchedSinceFree());
  // Dropped from outside any handler, it goes at once.
  DialogPtr<> idle(new CInArena<COwnedForm>());
  ASSERT_TRUE(idle->Create());
  idle.reset();
  EXPECT_TRUE(ArenaUntouchedSinceFree());
}

TEST(DialogLifetime, ASlotKeepsOneDialogOfItsKindAndRecreatesItAfterAClose) {
  int made = 0;
  CDialogSlot slot([&made](HWND owner) -> DialogPtr<> {
    ++made;
    return MakeDialog<CModelessDialog>(IDD_TEST_FORM, owner);
  });
  CDialog* first = slot.Open(nullptr);
  ASSERT_NE(nullptr, first);
  const HWND firstWindow = first->Hwnd();
  CDialog* second = slot.Open(nullptr);  // again while shown: the earlier one goes
  ASSERT_NE(nullptr, second);
  EXPECT_FALSE(IsWindow(firstWindow));
  SendMessageA(second->Hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(nullptr, slot.Shown());
  ASSERT_NE(nullptr, slot.Open(nullptr));
  EXPECT_EQ(3, made);
  slot.Close();
  EXPECT_EQ(nullptr, slot.Shown());
}

// ---- catch-all ----------------------------------------------------------------------------

class CThrowingForm : public Ccustfrm {
 public:
  CThrowingForm() : Ccustfrm(IDD_TEST_FORM) {}
  int handled = 0;

 protected:
  bool OnCommand(int id, int code) override {
    if (id == IDC_TEST_FIRST && code == 0) throw std::runtime_error("handler failed");
    if (id == IDC_TEST_SECOND && code == 0) ++handled;
    return Ccustfrm::OnCommand(id, code);
  }
  void OnTimer(UINT_PTR) override { throw 7; }
};

TEST(HandlerCatchAll, AThrowingHandlerLeavesTheDialogWorking) {
  CThrowingForm form;
  ASSERT_TRUE(form.Create());
  SendMessageA(form.Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_TEST_FIRST, 0), 0);
  form.SetTimer(1, 10);
  PumpMessagesAndWait(100);
  SendMessageA(form.Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_TEST_SECOND, 0), 0);
  EXPECT_EQ(1, form.handled);
  form.Destroy();
}

// ---- worker posts ---------------------------------------------------------------------------

struct CCounted {
  explicit CCounted(int* alive) : pAlive(alive) { ++*pAlive; }
  ~CCounted() { --*pAlive; }
  int* pAlive;
};

TEST(WorkerPosts, OnlyLiveWindowsGetThemAndPayloadsAreNeverLost) {
  int alive = 0;
  HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, window);
  EXPECT_TRUE(PostPayload(window, WM_APP + 3, std::make_unique<CCounted>(&alive)));
  EXPECT_TRUE(PostPayload(window, WM_APP + 3, std::make_unique<CCounted>(&alive)));
  EXPECT_EQ(2, alive);  // queued, owned by the messages
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, window, WM_APP + 3, WM_APP + 3, PM_REMOVE));
  TakePayload<CCounted>(msg.lParam);  // the window takes one
  EXPECT_EQ(1, alive);
  DropQueuedPayloads<CCounted>(window, WM_APP + 3);  // its destruction frees the rest
  EXPECT_EQ(0, alive);
  DestroyWindow(window);
  EXPECT_FALSE(PostPayload(window, WM_APP + 3, std::make_unique<CCounted>(&alive)));
  EXPECT_FALSE(PostToWindow(window, WM_APP + 3));
  EXPECT_FALSE(PostToWindow(nullptr, WM_APP + 3));
  EXPECT_EQ(0, alive);
}

// ---- tray ------------------------------------------------------------------------------------

TEST(TrayIcon, TheShellRestartNoticeIsLetThroughAndReAddsTheIcon) {
  HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, window);
  CTrayIcon tray;
  tray.Init(window, reinterpret_cast<HICON>(window), "Tavrick");
  EXPECT_TRUE(tray.ShellRestartAllowed());
  const int before = TrayIconCount();
  tray.Add(128);
  ASSERT_TRUE(WaitUntil([&] { return TrayIconCount() == before + 1; }));
  tray.Remove();  // what a restarting shell loses
  ASSERT_TRUE(WaitUntil([&] { return TrayIconCount() == before; }));
  EXPECT_FALSE(tray.OnShellRestart(WM_USER + 2));
  EXPECT_TRUE(tray.OnShellRestart(RegisterWindowMessageA("TaskbarCreated")));
  EXPECT_TRUE(WaitUntil([&] { return TrayIconCount() == before + 1; }));
  EXPECT_EQ(128, tray.Current());
  tray.Remove();
  DestroyWindow(window);
}

}  // namespace
