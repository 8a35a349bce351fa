#pragma once
// Dialog templates of the framework tests (test_dialogs.rc, linked into the test program).
#define IDD_TEST_FORM 9001
#define IDC_TEST_FIRST 9002
#define IDC_TEST_SECOND 9003
#define IDD_TEST_BUTTONS 9004
#define IDC_TEST_OWNERDRAWN 9005
#define IDC_TEST_PLAIN 9006
