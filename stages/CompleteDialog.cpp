#include "stages/CompleteDialog.h"

#include "resources/resource.h"
#include "stages/AboutDialog.h"

CompleteDialog::CompleteDialog()
    : CDialog(IDD_COMPLETE), icon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME))) {}

POINT CompleteDialog::MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight) {
  return POINT{(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

const MessageMap* CompleteDialog::GetMessageMap() const {
  static constexpr MessageMapEntry entries[] = {
      Map::SysCommand<&CompleteDialog::OnSysCommand>(),
      Map::Paint<&CompleteDialog::OnPaint>(),
      Map::QueryDragIcon<&CompleteDialog::OnQueryDragIcon>(),
  };
  static const MessageMap map(CDialog::GetMessageMap(), entries);
  return &map;
}

void CompleteDialog::DoDataExchange(CDataExchange* exchange) {
  DDX_Text(exchange, IDC_COMPLETE_MESSAGE, text);
}

BOOL CompleteDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  // The template has no system menu, so on most systems there is nothing to add to.
  if (HMENU menu = GetSystemMenu(FALSE)) {
    CString about;
    about.LoadString(IDS_ABOUTBOX);
    if (!about.IsEmpty()) {
      AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, about);
    }
  }
  SetIcon(icon, TRUE);
  SetIcon(icon, FALSE);
  SetWindowText("バージョンアップ完了");
  text = "バージョンアップが完了しました。\r\nおつかれさまでした。";
  UpdateData(FALSE);
  return TRUE;
}

void CompleteDialog::OnSysCommand(UINT id, LPARAM lParam) {
  if ((id & 0xFFF0) == IDM_ABOUTBOX) {
    AboutDialog about;
    about.DoModal();
  } else {
    CDialog::OnSysCommand(id, lParam);
  }
}

void CompleteDialog::OnPaint() {
  if (!IsIconic()) {
    CDialog::OnPaint();
    return;
  }
  CPaintDC dc(this);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0);
  RECT client;
  GetClientRect(&client);
  POINT at = MinimisedIconOrigin(client.right - client.left, client.bottom - client.top,
                                 GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
  DrawIcon(dc.m_hDC, at.x, at.y, icon);
}

HCURSOR CompleteDialog::OnQueryDragIcon() {
  return icon;
}
