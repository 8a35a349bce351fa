#pragma once
// Resource ids shared by the resource script and the code.
#define IDR_MAINFRAME 128
#define IDI_PROTECTING 157
#define IDD_TAVRICK_DIALOG 102
