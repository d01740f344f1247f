// The framework stand-in in one include: application object, dialogs, data exchange, strings and
// controls, written on plain Win32 with the ANSI calls (texts are code page 932).
#pragma once

#include "framework/CDialog.h"
#include "framework/CString.h"
#include "framework/CWinApp.h"
#include "framework/CWnd.h"
#include "framework/Controls.h"
#include "framework/DataExchange.h"
