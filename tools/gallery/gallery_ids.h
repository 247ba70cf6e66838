// Identifiers of the control gallery's dialog.
#pragma once

#define IDD_GALLERY 300

#define IDC_G_TITLE 2001
#define IDC_G_FILE 2002
#define IDC_G_FILE_ELLIPSIS 2003
#define IDC_G_FILE_KOREAN 2004
#define IDC_G_PERCENT 2005

#define IDC_G_PROGRESS_EMPTY 2101
#define IDC_G_PROGRESS_HALF 2102
#define IDC_G_PROGRESS_FULL 2103
#define IDC_G_PROGRESS_IDLE 2104

#define IDC_G_LIST 2201

// Buttons: one row per kind, one column per state (normal, hover, pressed, disabled).
#define IDC_G_MINIMIZE 2301
#define IDC_G_CLOSE 2311
#define IDC_G_PUSH 2321
#define IDC_G_CHECK_ON 2331
#define IDC_G_CHECK_OFF 2332
