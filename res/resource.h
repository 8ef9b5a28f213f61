// Resource identifiers, shared by the resource script and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_UPDATER_DIALOG 102
#define IDR_MAINFRAME 128
#define IDI_SPARE 129

#define IDC_UPDATE 1000
#define IDC_LATEST 1001
#define IDC_CURRENT 1002
#define IDC_QUIT 1003
#define IDC_FULLSCREEN 1005
#define IDC_WINDOW 1006
#define IDC_NEWS 1007

// System-menu commands must keep the low four bits clear.
#define IDM_ABOUTBOX 0x0010
