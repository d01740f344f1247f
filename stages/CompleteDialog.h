// CompleteDialog: the modal window that reports the finished update (template 102). It adds the
// version window to its system menu and draws the program's icon when minimised.
#pragma once

#include "framework/Framework.h"

// The system-menu command that opens the version window; compared after masking with 0xFFF0.
inline constexpr UINT IDM_ABOUTBOX = 16;

class CompleteDialog : public CDialog {
 public:
  CompleteDialog();

  // Where the minimised window draws an icon: centred, (client - icon + 1) / 2 truncating toward
  // zero on each axis.
  static POINT MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

  CString text;
  HICON icon;  // the program's icon (IDR_MAINFRAME), shared: not destroyed

 protected:
  const MessageMap* GetMessageMap() const override;
  void DoDataExchange(CDataExchange* exchange) override;
  BOOL OnInitDialog() override;

  void OnSysCommand(UINT id, LPARAM lParam);
  void OnPaint();
  HCURSOR OnQueryDragIcon();
};
