// CWinApp: the program's one application object, and the entry point that runs it: the
// framework's WinMain calls InitInstance of the object constructed at static initialisation.
#pragma once

#include <windows.h>

#include "framework/CWnd.h"

class CWinApp {
 public:
  // The first application object constructed becomes the program's; the framework's name for it
  // is not used.
  CWinApp();
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // Called once by WinMain. TRUE runs the thread's message loop until WM_QUIT; FALSE ends the
  // program at once. The default returns TRUE.
  virtual BOOL InitInstance();

  CWnd* m_pMainWnd = nullptr;  // not owned
};

// The program's application object, or nullptr when none is alive.
CWinApp* AfxGetApp();
