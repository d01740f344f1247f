#include "framework/CWinApp.h"

namespace {
CWinApp* theApplication = nullptr;
}

CWinApp::CWinApp() {
  if (!theApplication) theApplication = this;
}

CWinApp::~CWinApp() {
  if (theApplication == this) theApplication = nullptr;
}

BOOL CWinApp::InitInstance() {
  return TRUE;
}

CWinApp* AfxGetApp() {
  return theApplication;
}

// The entry point lives with CWinApp so that every program built on an application object links
// it: the C runtime's start-up looks for WinMain only after the libraries have been searched.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  CWinApp* app = AfxGetApp();
  if (!app || !app->InitInstance()) return 0;
  MSG message;
  BOOL got;
  while ((got = GetMessageA(&message, nullptr, 0, 0)) != 0 && got != -1) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return got == 0 ? static_cast<int>(message.wParam) : 0;
}
