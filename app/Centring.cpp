#include "app/Centring.h"

#include "app/UpdateApp.h"
#include "framework/CWnd.h"

namespace {

// The product fits 32 bits for any screen; 64 keeps even absurd sizes defined.
LONG Centred(std::int32_t space, std::int32_t size) {
  return static_cast<LONG>((static_cast<std::int64_t>(space) - size) * 5 / 10);
}

}  // namespace

POINT CentredOrigin(std::int32_t screenWidth, std::int32_t screenHeight, std::int32_t width,
                    std::int32_t height) {
  return POINT{Centred(screenWidth, width), Centred(screenHeight, height)};
}

void CentreOnScreen(CWnd& window, const UpdateApp& app) {
  RECT rect;
  window.GetWindowRect(&rect);
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  POINT origin = CentredOrigin(app.screenWidth, app.screenHeight, width, height);
  window.MoveWindow(origin.x, origin.y, width, height, TRUE);
}
