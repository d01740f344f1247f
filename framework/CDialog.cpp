#include "framework/CDialog.h"

#include "framework/DataExchange.h"
#include "framework/SystemDll.h"

namespace {

bool IsColourRequest(UINT message) {
  return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
}

// System cursors are shared and never freed, so each is loaded once: busy loops restore the wait
// cursor on every pass, and under Wine each load costs several server round trips.
HCURSOR WaitCursor() {
  static const HCURSOR cursor = LoadCursorA(nullptr, IDC_WAIT);
  return cursor;
}

HCURSOR ArrowCursor() {
  static const HCURSOR cursor = LoadCursorA(nullptr, IDC_ARROW);
  return cursor;
}

}  // namespace

const MessageMapEntry* MessageMap::Find(UINT message, UINT controlId) const {
  for (const MessageMap* map = this; map; map = map->base) {
    for (std::size_t i = 0; i < map->count; ++i) {
      const MessageMapEntry& entry = map->entries[i];
      if (entry.message == message && (message != WM_COMMAND || entry.controlId == controlId)) return &entry;
    }
  }
  return nullptr;
}

CDialog::CDialog(UINT templateId) : templateId(templateId) {}

CDialog::~CDialog() {
  if (m_hWnd) {
    // Nothing may reach the object while it is half destroyed.
    SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
    ::DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
  }
}

INT_PTR CDialog::DoModal() {
  assert(!m_hWnd && "the dialog already has a window");
  RegisterControlClasses();
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), nullptr, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::Create(UINT id) {
  assert(!m_hWnd && "the dialog already has a window");
  templateId = id;
  RegisterControlClasses();
  // WM_INITDIALOG binds m_hWnd; a window destroyed during its creation has unbound it again.
  HWND window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
  return window != nullptr && m_hWnd == window;
}

BOOL CDialog::DestroyWindow() {
  return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}

void CDialog::EndDialog(int result) {
  ::EndDialog(Checked(), result);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange exchange(this, saveAndValidate);
  DoDataExchange(&exchange);
  return TRUE;
}

HWND CDialog::ControlWindow(int id) {
  for (auto& [known, control] : controlWindows) {
    if (known != id) continue;
    // A control destroyed and made again under the same identifier is searched for afresh.
    if (!IsWindow(control)) control = GetDlgItem(id);
    return control;
  }
  HWND control = GetDlgItem(id);
  if (control) controlWindows.emplace_back(id, control);
  return control;
}

void CDialog::BeginWaitCursor() {
  HCURSOR replaced = SetCursor(WaitCursor());
  if (!waitCursorOn) cursorBeforeWait = replaced;
  waitCursorOn = true;
}

void CDialog::RestoreWaitCursor() {
  if (waitCursorOn) SetCursor(WaitCursor());
}

void CDialog::EndWaitCursor() {
  if (!waitCursorOn) return;
  waitCursorOn = false;
  SetCursor(cursorBeforeWait ? cursorBeforeWait : ArrowCursor());
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM) {
  if (HIWORD(wParam) != BN_CLICKED) return FALSE;
  UINT id = LOWORD(wParam);
  if (const MessageMapEntry* entry = GetMessageMap()->Find(WM_COMMAND, id)) {
    entry->call(*this, WM_COMMAND, wParam, 0);
    return TRUE;
  }
  if (id == IDOK) {
    OnOK();
    return TRUE;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return TRUE;
  }
  return FALSE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() {
  EndDialog(IDCANCEL);
}

const MessageMap* CDialog::GetMessageMap() const {
  static const MessageMap map(nullptr);
  return &map;
}

void CDialog::OnTimer(UINT_PTR) {
  Default();
}
void CDialog::OnPaint() {
  Default();
}
HBRUSH CDialog::OnCtlColor(HDC, HWND, UINT) {
  return reinterpret_cast<HBRUSH>(Default());
}
void CDialog::OnSysCommand(UINT, LPARAM) {
  Default();
}
HCURSOR CDialog::OnQueryDragIcon() {
  return reinterpret_cast<HCURSOR>(Default());
}
BOOL CDialog::OnQueryEndSession() {
  return static_cast<BOOL>(Default());
}

// The dialog manager's own handling of these messages, once the dialog procedure declines them,
// is DefWindowProc; calling it here lets a handler run it at the point it chooses.
LRESULT CDialog::Default() {
  return DefWindowProcA(m_hWnd, current.message, current.wParam, current.lParam);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialog* dialog;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<CDialog*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    dialog->m_hWnd = window;
  } else {
    dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  }
  // Messages before WM_INITDIALOG (WM_SETFONT) and after the object let go of the window.
  if (!dialog) return FALSE;
  return dialog->Dispatch(message, wParam, lParam);
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_COMMAND:
      return OnCommand(wParam, lParam);
    case WM_NCDESTROY:
      controlWindows.clear();
      SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
      m_hWnd = nullptr;
      return FALSE;
    case WM_TIMER:
    case WM_PAINT:
    case WM_SYSCOMMAND:
    case WM_QUERYDRAGICON:
    case WM_QUERYENDSESSION:
      break;
    default:
      if (!IsColourRequest(message)) return FALSE;
  }
  const MessageMapEntry* entry =
      GetMessageMap()->Find(IsColourRequest(message) ? WM_CTLCOLORMSGBOX : message, 0);
  if (!entry) return FALSE;
  auto outer = current;  // handlers may pump messages, so dispatches nest
  current = {message, wParam, lParam};
  INT_PTR result = entry->call(*this, message, wParam, lParam);
  current = outer;
  return result;
}
