// The centring rule, as arithmetic and applied to a window.
#include <gtest/gtest.h>

#include "app/Centring.h"
#include "app/UpdateApp.h"
#include "app/tests/TestIds.h"

namespace {

TEST(Centring, HalvesTheDifferenceTruncatingTowardZero) {
  POINT at = CentredOrigin(1024, 738, 300, 200);
  EXPECT_EQ(at.x, 362);
  EXPECT_EQ(at.y, 269);
  EXPECT_EQ(CentredOrigin(1024, 738, 1125, 200).x, -50) << "101 pixels wider: -50, not -51";
  EXPECT_EQ(CentredOrigin(1024, 738, 301, 200).x, 361);
  EXPECT_EQ(CentredOrigin(100, 100, 203, 100).x, -51) << "-103 * 5 / 10 = -51.5, truncated";
  EXPECT_EQ(CentredOrigin(0, 0, 0, 0).x, 0);
}

class Window : public CDialog {
 public:
  Window() : CDialog(IDD_SEQ_STAGE) {}
};

TEST(Centring, MovesTheWindowKeepingItsSize) {
  UpdateApp app(nullptr);
  app.screenWidth = 1024;
  app.screenHeight = 738;
  Window window;
  ASSERT_TRUE(window.Create(IDD_SEQ_STAGE, nullptr));
  window.MoveWindow(5, 7, 300, 200);
  CentreOnScreen(window, app);
  RECT rect;
  window.GetWindowRect(&rect);
  EXPECT_EQ(rect.left, 362);
  EXPECT_EQ(rect.top, 269);
  EXPECT_EQ(rect.right - rect.left, 300);
  EXPECT_EQ(rect.bottom - rect.top, 200);

  app.screenWidth = 199;  // 101 narrower than the window
  CentreOnScreen(window, app);
  window.GetWindowRect(&rect);
  EXPECT_EQ(rect.left, -50);
  EXPECT_EQ(rect.right - rect.left, 300);
}

}  // namespace
