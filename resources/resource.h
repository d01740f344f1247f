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

// Controls, named after what they hold in each window. Windows share numbers, not contents.
#define IDC_PROGRESS 1000          // check, transfer: the progress bar
#define IDC_TERMS 1002             // agreement: the terms of use
#define IDC_WAIT_MESSAGE 1002      // rewrite wait: the update is in progress
#define IDC_COMPLETE_MESSAGE 1002  // completion: the update is done
#define IDC_CHECK_STATUS 1003      // check: the check under way
#define IDC_TRANSFER_MESSAGE 1003  // transfer: the data is being transferred
#define IDC_CHECK_MESSAGE 1005     // check: the fixed instruction
#define IDC_AGREE 1006             // agreement: "I agree"
#define IDC_DISAGREE 1007          // agreement: "I do not agree"
#define IDC_CABLE_NOTICE 1008      // transfer: do not unplug the cable
#define IDC_POWER_NOTICE 1008      // rewrite wait: do not switch the deck off
#define IDC_ANIMATION 1009         // rewrite wait: the clip
