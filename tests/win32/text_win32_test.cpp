// The strict conversions of the Windows build between code page 932 and
// UTF-16.
#include <gtest/gtest.h>

#include <string>

#include "text/byte_string.h"
#include "text/text_win32.h"

// Window texts and dropped paths arrive as UTF-16, which may hold what no
// code page 932 text can come from.
TEST(TextWin32, OnlyExactRoundTripsConvert) {
    std::wstring wide;
    ByteString back;
    EXPECT_FALSE(WideToCp932(L"\xd800", back));  // a lone surrogate
    EXPECT_FALSE(Cp932ToWide("a\x81", wide));     // a lead byte without its trail
    // An IBM extension duplicate: it decodes, but encodes back as FA 5C, so a
    // path holding it would not name itself.
    EXPECT_FALSE(Cp932ToWide("\xed\x40", wide));
    ASSERT_TRUE(Cp932ToWide("\xfa\x5c", wide));
    EXPECT_EQ(wide, L"\u7e8a");
}
