// The rule by which the stage windows and the agreement window place themselves: centred in the
// full-screen client area that the application measured at start-up.
#pragma once

#include <windows.h>

#include <cstdint>

class CWnd;
class UpdateApp;

// x = (screenWidth - width) * 5 / 10, y likewise: signed, the division truncating toward zero
// (a difference of -101 gives -50).
POINT CentredOrigin(std::int32_t screenWidth, std::int32_t screenHeight, std::int32_t width,
                    std::int32_t height);

// Moves the window there, keeping its outer size, and repaints it.
void CentreOnScreen(CWnd& window, const UpdateApp& app);
