// The terms text: piece sizes and line breaks in code page 932 bytes, and valid Shift-JIS.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/AgreementText.h"

namespace {

TEST(AgreementText, PiecesHaveTheirSizesAndLineBreaks) {
  const std::size_t sizes[kAgreementPieceCount] = {410, 227, 1611, 1274, 153};
  for (int i = 0; i < kAgreementPieceCount; ++i) {
    std::string piece = AgreementPieces[i];
    EXPECT_EQ(piece.size(), sizes[i]) << "piece " << i + 1;
    bool endsInBreak = piece.size() >= 2 && piece.compare(piece.size() - 2, 2, "\r\n") == 0;
    EXPECT_EQ(endsInBreak, i < 4) << "piece " << i + 1;
  }
}

TEST(AgreementText, JoinsThePiecesInOrder) {
  CString joined = JoinAgreementText();
  ASSERT_EQ(joined.GetLength(), 3675);
  std::string expected;
  for (const char* piece : AgreementPieces) expected += piece;
  EXPECT_EQ(std::string(joined), expected);
}

TEST(AgreementText, EveryLineBreakIsCrLfAndTheTextIsValidShiftJis) {
  std::string text(JoinAgreementText());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      EXPECT_EQ(text[i + 1], '\n') << "at " << i;
    }
    if (text[i] == '\n') {
      EXPECT_EQ(text[i - 1], '\r') << "at " << i;
    }
  }
  int wide =
      MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
  ASSERT_GT(wide, 0) << "not valid code page 932";
  std::wstring utf16(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), utf16.data(), wide);
  EXPECT_NE(utf16.find(L"\u540c\u610f\u3057\u307e\u3059\u3002"), std::wstring::npos)
      << "names the button 同意します。";
  BOOL lossy = FALSE;
  int back = WideCharToMultiByte(932, 0, utf16.data(), wide, nullptr, 0, nullptr, &lossy);
  EXPECT_EQ(back, static_cast<int>(text.size()));
  EXPECT_FALSE(lossy);
}

}  // namespace
