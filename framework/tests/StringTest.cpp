// CString: joining, and loading code page 932 texts from the string table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "framework/Framework.h"
#include "framework/tests/TestIds.h"

namespace {

TEST(String, JoinsLeftToRightAndTreatsNullAsEmpty) {
  CString joined = CString("ＵＳＢ") + "チェック";
  joined += "\r\n";
  joined += static_cast<const char*>(nullptr);
  EXPECT_STREQ(joined, "ＵＳＢチェック\r\n");
  EXPECT_EQ(joined.GetLength(), 16);
  EXPECT_TRUE(CString(nullptr).IsEmpty());
  CString assigned;
  assigned = "ｷｬﾝｾﾙ";
  EXPECT_EQ(assigned.GetLength(), 5) << "half-width katakana are one byte each in code page 932";
}

TEST(String, LoadsCodePage932TextFromTheStringTable) {
  ASSERT_EQ(GetACP(), 932u) << "the tests run with the Japanese locale";
  CString text;
  EXPECT_TRUE(text.LoadString(IDS_TEST_SHORT));
  EXPECT_STREQ(text, "バージョン情報(&A)...");
}

TEST(String, LoadsAStringLongerThanTheFirstBuffer) {
  CString text;
  EXPECT_TRUE(text.LoadString(IDS_TEST_LONG));
  std::string expected = "長い文字列：";
  for (int i = 0; i < 15; ++i) expected += "一二三四五六七八九十";
  expected += "おわり";
  EXPECT_EQ(std::string(text), expected);
  EXPECT_GT(text.GetLength(), 256);
}

TEST(String, AMissingStringLeavesItEmpty) {
  CString text("前");
  EXPECT_FALSE(text.LoadString(IDS_TEST_MISSING));
  EXPECT_TRUE(text.IsEmpty());
}

}  // namespace
