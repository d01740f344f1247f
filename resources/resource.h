// Resource identifiers of the program's windows, string, icon and clip.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_COMPLETE 102
#define IDR_MAINFRAME 128
#define IDD_CHECK 129
#define IDD_AGREEMENT 130
#define IDD_TRANSFER 131
#define IDD_FINISH_WAIT 134
#define IDR_AVI_WAIT 146

#define IDC_PROGRESS 1000
#define IDC_TERMS 1002
#define IDC_STATUS 1003
#define IDC_MESSAGE 1005
#define IDC_AGREE 1006
#define IDC_DISAGREE 1007
#define IDC_NOTICE 1008
#define IDC_ANIMATION 1009

// Control 1002 is the terms box in the agreement window and the first text elsewhere; 1003 and
// 1008 likewise carry different texts in different windows. The numbers are what count.
