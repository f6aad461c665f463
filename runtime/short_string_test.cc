#include "runtime/short_string.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/case866.h"
#include "runtime/collection.h"

namespace kelvane {
namespace {

TEST(ShortString, CutsAt255Bytes) {
  std::string Long(300, 'x');
  tShortString S(Long);
  EXPECT_EQ(S.Length(), 255u);
  S = "abc";
  S.Append(std::string(300, 'y'));
  EXPECT_EQ(S.Length(), 255u);
  EXPECT_EQ(S[3], 'y');
  EXPECT_EQ(S.CStr()[255], '\0');
}

TEST(ShortString, NumbersRoundTrip) {
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToStr(-2147483647LL - 1), "-2147483648");
  long long V;
  EXPECT_TRUE(StrToInt("  42", V));
  EXPECT_EQ(V, 42);
  EXPECT_FALSE(StrToInt("4x", V));
  EXPECT_EQ(V, 0);
  EXPECT_FALSE(StrToInt("", V));
}

TEST(Case866, MapsLatinAndCyrillicBothWays) {
  // a-z, 0xA0-0xAF, 0xE0-0xEF and 0xF1 are the lower-case letters.
  for (int C = 0; C < 256; ++C) {
    uint8_t U = UpperCase866(static_cast<uint8_t>(C));
    bool Lower = (C >= 'a' && C <= 'z') || (C >= 0xA0 && C <= 0xAF) || (C >= 0xE0 && C <= 0xEF) || C == 0xF1;
    if (Lower) {
      EXPECT_NE(U, C) << C;
      EXPECT_EQ(LowerCase866(U), C) << C;
    } else {
      EXPECT_EQ(U, C) << C;
    }
  }
  EXPECT_EQ(UpperCase866(static_cast<uint8_t>(0xE0)), 0x90);
  EXPECT_EQ(UpperCase866(static_cast<uint8_t>(0xF1)), 0xF0);
  EXPECT_EQ(UpperCase866(static_cast<uint8_t>(0xF3)), 0xF3);  // other 0xF? bytes stay
  EXPECT_TRUE(SameText866("echo.one", "ECHO.ONE"));
  EXPECT_FALSE(SameText866("echo.one ", "ECHO.ONE"));
}

TEST(SortedStrings, KeepsByteOrderAndUniqueness) {
  tSortedStrings Set;
  EXPECT_TRUE(Set.Insert("b"));
  EXPECT_TRUE(Set.Insert("ab"));
  EXPECT_TRUE(Set.Insert("a"));
  EXPECT_TRUE(Set.Insert("\xF0"));  // high bytes sort as unsigned, after ASCII
  EXPECT_FALSE(Set.Insert("ab"));
  ASSERT_EQ(Set.Count(), 4u);
  EXPECT_EQ(Set.At(0), "a");  // a prefix sorts first
  EXPECT_EQ(Set.At(1), "ab");
  EXPECT_EQ(Set.At(2), "b");
  EXPECT_EQ(Set.At(3), "\xF0");
  EXPECT_TRUE(Set.Contains("ab"));
  EXPECT_FALSE(Set.Contains("AB"));
  EXPECT_FALSE(Set.Contains("a "));
}

TEST(Collection, InsertRemoveKeepOrder) {
  tCollection<int> C;
  for (int I = 0; I < 40; ++I) C.Append(I);
  C.Insert(0, -1);
  C.RemoveAt(5);
  C.RemoveAt(1000);  // out of range: nothing
  ASSERT_EQ(C.Count(), 40u);
  EXPECT_EQ(C[0], -1);
  EXPECT_EQ(C[4], 3);
  EXPECT_EQ(C[5], 5);
}

}  // namespace
}  // namespace kelvane
