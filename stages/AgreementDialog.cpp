#include "stages/AgreementDialog.h"

#include "app/Centring.h"
#include "resources/resource.h"

AgreementDialog::AgreementDialog(const UpdateApp& app, const CString& terms)
    : CDialog(IDD_AGREEMENT), app(app), terms(terms), whiteBrush(CreateSolidBrush(RGB(255, 255, 255))) {}

AgreementDialog::~AgreementDialog() {
  DeleteObject(whiteBrush);
}

const MessageMap* AgreementDialog::GetMessageMap() const {
  static constexpr MessageMapEntry entries[] = {
      Map::Clicked<IDC_AGREE, &AgreementDialog::OnAgree>(),
      Map::Clicked<IDC_DISAGREE, &AgreementDialog::OnDisagree>(),
      Map::Paint<&AgreementDialog::OnPaint>(),
      Map::CtlColor<&AgreementDialog::OnCtlColor>(),
  };
  static const MessageMap map(CDialog::GetMessageMap(), entries);
  return &map;
}

void AgreementDialog::DoDataExchange(CDataExchange* exchange) {
  DDX_Control(exchange, IDC_TERMS, termsEdit);
  DDX_Control(exchange, IDCANCEL, cancelButton);
  DDX_Control(exchange, IDOK, okButton);
  DDX_Text(exchange, IDC_TERMS, termsText);
}

BOOL AgreementDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  agreed = 0;
  SetWindowText("バージョンアップ for Z8KQ");
  CentreOnScreen(*this, app);
  termsText = terms;
  UpdateData(FALSE);
  return TRUE;
}

void AgreementDialog::OnOK() {
  if (agreed)
    CDialog::OnOK();
  else
    CDialog::OnCancel();
}

void AgreementDialog::OnCancel() {
  agreed = 0;
  CDialog::OnCancel();
}

void AgreementDialog::OnAgree() {
  agreed = 1;
  okButton.EnableWindow(TRUE);
  cancelButton.EnableWindow(TRUE);
}

void AgreementDialog::OnDisagree() {
  agreed = 0;
  okButton.EnableWindow(TRUE);
  cancelButton.EnableWindow(TRUE);
}

// Every repaint asks again: the choice must be made (again) before OK or Cancel can be pressed.
void AgreementDialog::OnPaint() {
  CPaintDC dc(this);
  ::SetFocus(GetDlgItem(IDC_AGREE));
  okButton.EnableWindow(FALSE);
  cancelButton.EnableWindow(FALSE);
}

HBRUSH AgreementDialog::OnCtlColor(HDC dc, HWND control, UINT ctlColor) {
  HBRUSH brush = CDialog::OnCtlColor(dc, control, ctlColor);
  if (control && control == termsEdit.m_hWnd) {
    SetBkColor(dc, RGB(255, 255, 255));
    return whiteBrush;
  }
  return brush;
}
