#pragma once
// The test program's own dialog template, loaded from the test executable.
#define IDD_UI_TEST        200
#define IDC_UI_TEST_LABEL  1001
#define IDC_UI_TEST_EDIT   1002
#define IDC_UI_TEST_APPLY  1003
