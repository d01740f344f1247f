// The parts of the sequence: the centring rule's arithmetic (each window applying it is the windows'
// test), the terms text, and the pump beyond the one message a pass that the check's schedule shows.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/AgreementText.h"
#include "app/Centring.h"
#include "app/MessagePump.h"
#include "framework/Framework.h"
#include "resources/resource.h"

TEST(Centring, HalvesTheDifferenceTruncatingTowardZero) {
  EXPECT_EQ(std::make_pair(CentredOrigin(1024, 738, 300, 200).x, CentredOrigin(1024, 738, 300, 200).y),
            std::make_pair(LONG(362), LONG(269)));
  EXPECT_EQ(CentredOrigin(1024, 738, 1125, 200).x, -50) << "101 pixels wider: -50, not -51";
  EXPECT_EQ(CentredOrigin(1024, 738, 200, 839).y, -50);
}

TEST(AgreementText, FivePiecesOfTheirSizesJoinedInOrderWithCrLfBreaksInValidShiftJis) {
  const std::size_t sizes[kAgreementPieceCount] = {410, 227, 1611, 1274, 153};
  for (int i = 0; i < kAgreementPieceCount; ++i) {
    const std::string piece = AgreementPieces[i];
    EXPECT_EQ(piece.size(), sizes[i]) << "piece " << i + 1;
    EXPECT_EQ(piece.rfind("\r\n") == piece.size() - 2, i < 4) << "piece " << i + 1;
  }
  const std::string text(JoinAgreementText());
  EXPECT_EQ(text.find("HVX-Z8KQ ファームウェア バージョンアップ ソフトウェア 使用許諾書\r\n"), 0u);
  EXPECT_EQ(text.find("\r\n第２条"), 410u + 227) << "pieces 1 and 2 come first";
  EXPECT_EQ(text.find("\r\n以上に同意される場合は"), 3675u - 153) << "and piece 5 last";
  std::ptrdiff_t breaks = 0;
  for (auto at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++breaks;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r') + std::count(text.begin(), text.end(), '\n'),
            2 * breaks);
  EXPECT_GT(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0), 0);
}

struct Escapable : CDialog {
  Escapable() : CDialog(IDD_AGREEMENT) {}
  void OnCancel() override { ++cancels; }
  int cancels = 0;
};

TEST(Pump, TakesTheQuitMessageAndTheEscapeKeyLikeAnyOtherAndReturnsWhenNothingIsWaiting) {
  Escapable window;
  ASSERT_TRUE(window.Create(IDD_AGREEMENT));
  PostMessageA(window.GetDlgItem(IDC_TERMS), WM_KEYDOWN, VK_ESCAPE, 0);
  PostQuitMessage(3);
  while (PumpOneMessage()) {
  }
  PumpOrIdle();  // returns although nothing arrives
  EXPECT_EQ(window.cancels, 0) << "Escape would have been IDCANCEL through the dialog manager";
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE))
      << "the quit message was taken";
}
