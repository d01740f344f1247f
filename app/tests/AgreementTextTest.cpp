// The terms text: five pieces of their sizes, joined in order, every line break CR LF, all of it
// valid code page 932.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/AgreementText.h"

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
