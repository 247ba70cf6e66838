// Resource and control identifiers of the scan window.
#pragma once

#define IDD_SCAN_WINDOW 102
#define IDI_MAIN 128

#define IDC_CANCEL_SCAN 1001
#define IDC_PROGRESS 1002
#define IDC_FINDINGS 1003
#define IDC_PERCENT 1005
#define IDC_SHUTDOWN_CAPTION 1006
#define IDC_MINIMIZE 1007
#define IDC_CLOSE 1008
#define IDC_SHUTDOWN_CHECK 1009
#define IDC_CURRENT_FILE 1010
#define IDC_PAUSE 1011
#define IDC_TITLE 1012
