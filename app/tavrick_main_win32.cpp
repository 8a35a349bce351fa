// Entry point of tavrick.exe.
#include <windows.h>

#include "app/tavrick_app_win32.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int) {
  CTavrickApp app(hInstance);
  return app.Run(lpCmdLine ? lpCmdLine : "");
}
