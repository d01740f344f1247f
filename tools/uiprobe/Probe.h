// What the UI probe can do to another program's windows on the same Wine desktop: find and
// describe windows and controls, click, answer message boxes, take screenshots, and start the
// program under test. Every answer is one line of JSON.
#pragma once

#include <windows.h>

#include <string>

#include "emulator/Json.h"

// Texts cross between the probe's UTF-8 answers and the windows' own UTF-16, so that what the
// probe reads does not hang on its own code page: a text a program set in the wrong code page
// reads as the garbage the user sees.
std::string Utf8FromWide(const std::wstring& wide);
std::wstring WideFromUtf8(const std::string& utf8);

// A window's caption or a control's text, read through the wide calls, as UTF-8.
std::string TextOf(HWND hwnd);

// Caption, class, rectangle (screen for top-level windows, parent client for controls), client
// size, styles, visibility, enabled state, id, owner and, for buttons, the check state.
Json Describe(HWND hwnd);
// Describe() plus every child in z-order, which for a dialog is template (tab) order.
Json DescribeWithControls(HWND hwnd);

// The visible top-level windows of the desktop.
Json ListTopLevel();

// A visible message box (a dialog with the system's message icon slot), or nullptr.
HWND FindMessageBox();
// Caption, text, icon ("warning", "error", "information", "question", "none" or "unknown"),
// buttons shown, owner and styles of a message box.
Json DescribeMessageBox(HWND box);

// Waits until the window's thread takes messages again and neither the window nor a visible
// control has anything left to paint. False when that did not happen within the time-out.
bool Settle(HWND hwnd, DWORD timeoutMs);

// Presses the button as the user would (BM_CLICK); refuses a disabled or hidden control.
// Returns an empty string or the reason it refused; `finished` tells whether the click's
// handlers returned within the time-out (a click that opens a modal window does not).
std::string Click(HWND control, bool& finished);

// Saves the screen area of `hwnd` (or the whole screen for nullptr) as a 24-bit BMP.
bool SaveScreenshot(HWND hwnd, const std::wstring& path, SIZE& size);
