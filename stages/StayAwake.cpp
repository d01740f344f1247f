#include "stages/StayAwake.h"

namespace {
// The program's own text, in its code page like every other.
constexpr char kReason[] = "バージョンアップ中です。本体の電源を切らないでください。";
constexpr UINT kProgramCodePage = 932;
}  // namespace

const std::wstring& StayAwake::Reason() {
  static const std::wstring reason = [] {
    const int length = MultiByteToWideChar(kProgramCodePage, 0, kReason, -1, nullptr, 0);
    std::wstring text(length > 0 ? length : 1, L'\0');
    MultiByteToWideChar(kProgramCodePage, 0, kReason, -1, &text[0], length);
    text.pop_back();  // the terminator, which the count includes
    return text;
  }();
  return reason;
}

void StayAwake::Begin(HWND window) {
  if (!held) {
    ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    held = true;
  }
  Cover(window);
}

void StayAwake::Cover(HWND window) {
  if (!held || window == reasonWindow) return;
  Withdraw();
  // The window's own refusal of WM_QUERYENDSESSION holds where the system has no reasons to show.
  if (window) ::ShutdownBlockReasonCreate(window, Reason().c_str());
  reasonWindow = window;
}

void StayAwake::End() {
  if (!held) return;
  Withdraw();
  ::SetThreadExecutionState(ES_CONTINUOUS);
  held = false;
}

void StayAwake::Withdraw() {
  // A window already destroyed took its reason with it.
  if (reasonWindow && ::IsWindow(reasonWindow)) ::ShutdownBlockReasonDestroy(reasonWindow);
  reasonWindow = nullptr;
}
