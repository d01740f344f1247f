// AgreementDialog: the modal terms window (template 130). OK and Cancel stay disabled until the
// user picks "同意します。" or "同意しません。"; OK then ends with IDOK only after "同意します。".
#pragma once

#include <cstdint>

#include "framework/Framework.h"

class UpdateApp;

class AgreementDialog : public CDialog {
 public:
  // `app` gives the screen size to centre in, `terms` the text to show; both must outlive the
  // window object.
  AgreementDialog(const UpdateApp& app, const CString& terms);
  ~AgreementDialog() override;

  std::int32_t agreed = 0;  // 1 after "同意します。"; 0 after "同意しません。", Cancel, and at start
  CEdit termsEdit;
  CButton cancelButton;
  CButton okButton;
  CString termsText;

 protected:
  const MessageMap* GetMessageMap() const override;
  void DoDataExchange(CDataExchange* exchange) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;

  void OnAgree();
  void OnDisagree();
  void OnPaint();
  HBRUSH OnCtlColor(HDC dc, HWND control, UINT ctlColor);

 private:
  const UpdateApp& app;
  const CString& terms;
  HBRUSH whiteBrush;  // the text box's background, one for the object's life
};
