#pragma once
// Modeless dialogs that the window opening them owns, one per kind.
#include <functional>

#include "ui/custfrm_win32.h"

// Closing it (title bar, Alt+F4) destroys its window only; the object stays with the
// opener's CDialogSlot until the next open or the opener's end.
class CModelessDialog : public Ccustfrm {
 public:
  using Ccustfrm::Ccustfrm;

 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
};

// One modeless dialog of a kind. Open() drops the earlier dialog of the kind (closed or still
// shown, even while one of its handlers runs) and shows a new one made by the kind's factory.
class CDialogSlot {
 public:
  using Factory = std::function<DialogPtr<>(HWND owner)>;
  explicit CDialogSlot(Factory factory) : m_factory(std::move(factory)) {}

  CDialog* Open(HWND owner);  // nullptr when the dialog could not be created
  // The dialog while its window exists, else nullptr.
  CDialog* Shown() const { return m_pDialog && m_pDialog->Hwnd() ? m_pDialog.get() : nullptr; }
  void Close() { m_pDialog.reset(); }

 private:
  Factory m_factory;
  DialogPtr<> m_pDialog;
};
