#include "support/wide_string_buffer.h"

#include <gtest/gtest.h>

#include <string>

#include "launcher/protocol.h"

TEST(WideStringBuffer, StartsNullAndAllocatesExactlyWhatAnEmptyAppendNeeds) {
  WideStringBuffer buffer(0);
  EXPECT_EQ(buffer.Text(), nullptr);
  buffer.Append(L"");
  ASSERT_NE(buffer.Text(), nullptr);
  EXPECT_STREQ(buffer.Text(), L"");
  EXPECT_EQ(buffer.Capacity(), 1u);
  EXPECT_EQ(buffer.Length(), 0u);
}

TEST(WideStringBuffer, InitialCapacityHoldsAnEmptyTerminatedText) {
  WideStringBuffer buffer(1024);
  ASSERT_NE(buffer.Text(), nullptr);
  EXPECT_STREQ(buffer.Text(), L"");
  EXPECT_EQ(buffer.Capacity(), 1024u);
}

TEST(WideStringBuffer, GrowsToTwiceItsCapacityOrToWhatIsNeeded) {
  WideStringBuffer exact(0);
  std::wstring text37(37 - 1, L'x');
  exact.Append(text37.c_str());
  EXPECT_EQ(exact.Capacity(), 37u);  // max(2 x 0, 37)

  WideStringBuffer doubled(1024);
  std::wstring text1023(1023, L'a');
  doubled.Append(text1023.c_str());
  EXPECT_EQ(doubled.Capacity(), 1024u) << "filling the block exactly must not grow it";
  wchar_t* before = doubled.Text();
  doubled.Append(L"b");
  EXPECT_EQ(doubled.Capacity(), 2048u);
  EXPECT_NE(doubled.Text(), before);
  EXPECT_EQ(std::wstring(doubled.Text()), text1023 + L"b");

  WideStringBuffer jump(1024);
  std::wstring text1499(1499, L'c');
  jump.Append(text1499.c_str());
  EXPECT_EQ(jump.Capacity(), 2048u);  // 1500 needed: 2 x 1024 is enough
  std::wstring text4000(4000, L'd');
  jump.Append(text4000.c_str());
  EXPECT_EQ(jump.Capacity(), 5500u);  // 5500 needed: more than 2 x 2048
}

TEST(WideStringBuffer, HoldsTheConcatenationOfEverythingAppended) {
  WideStringBuffer buffer(0);
  std::wstring expected;
  const wchar_t* pieces[] = {L"C:\\", L"", L"Program Files", L"\\", L"\u00e9\U0001F600", L" \"x\""};
  for (int round = 0; round < 200; ++round) {
    for (const wchar_t* piece : pieces) {
      buffer.Append(piece);
      expected += piece;
    }
    buffer.AppendCharacter(L'#');
    expected += L'#';
  }
  EXPECT_EQ(std::wstring(buffer.Text()), expected);
  EXPECT_EQ(buffer.Length(), expected.size());
  EXPECT_GE(buffer.Capacity(), buffer.Length() + 1);
}

TEST(WideStringBufferDeathTest, AFailedAllocationEndsTheProcessWithCode8) {
  EXPECT_EXIT(
      {
        WideStringBuffer buffer(0);
        buffer.Reserve(1ull << 40);  // 2 TiB: no heap gives that
      },
      ::testing::ExitedWithCode(static_cast<int>(ExitOutOfMemory)), "");
  EXPECT_EXIT(
      {
        WideStringBuffer buffer(0);
        buffer.Reserve(~0ull);  // its byte count would not fit a SIZE_T
      },
      ::testing::ExitedWithCode(static_cast<int>(ExitOutOfMemory)), "");
}
