// CString: loading code page 932 texts from the string table. (Joining is the terms text's test.)
#include <gtest/gtest.h>

#include <string>

#include "framework/Framework.h"
#include "framework/tests/TestIds.h"

namespace {

TEST(String, LoadsAStringOfAnyLengthAndEmptiesItselfForAMissingOne) {
  ASSERT_EQ(GetACP(), 932u) << "the tests run with the Japanese locale";
  CString text;
  EXPECT_TRUE(text.LoadString(IDS_TEST_SHORT));
  EXPECT_STREQ(text, "バージョン情報(&A)...");
  EXPECT_TRUE(text.LoadString(IDS_TEST_LONG));
  std::string expected = "長い文字列：";
  for (int i = 0; i < 15; ++i) expected += "一二三四五六七八九十";
  EXPECT_EQ(std::string(text), expected + "おわり") << "longer than the first buffer";
  EXPECT_FALSE(text.LoadString(IDS_TEST_MISSING));
  EXPECT_TRUE(text.IsEmpty());
}

}  // namespace
