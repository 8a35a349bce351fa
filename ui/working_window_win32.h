#pragma once
#include "ui/custfrm_win32.h"

// A working window lives from protection start to exit; closing it only hides it.
class CWorkingWindow : public Ccustfrm {
 public:
  using Ccustfrm::Ccustfrm;

 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
};
