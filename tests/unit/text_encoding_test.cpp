// The strict conversions between code page 932 and UTF-8, on every platform.
#include <gtest/gtest.h>

#include "text/byte_string.h"
#include "text/encoding.h"

namespace {

const ByteString& Hyou() {  // 表: its second byte is 0x5C, a separator byte
    static const ByteString text = Cp932(u8"表");
    return text;
}

std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

}  // namespace

TEST(TextConversion, RoundTripsAreExactBestFitIsRefusedAndTheShownFormMarksEachGap) {
    ASSERT_EQ(Hyou(), ByteString("\x95\x5C"));
    std::string utf8;
    ASSERT_TRUE(Cp932ToUtf8(Hyou() + "\xB1" "a\\b", utf8));
    EXPECT_EQ(utf8, U8(u8"表ｱa\\b"));
    EXPECT_FALSE(Cp932ToUtf8("ab\x81", utf8)) << "a lone lead byte is no character";

    // The yen sign must not become 0x5C; the wave dash and the emoji have no exact form.
    ByteString back;
    for (const char8_t* text : {u8"\u00A5", u8"\u301C", u8"a\U0001F600"})
        EXPECT_FALSE(Utf8ToCp932(U8(text), back)) << U8(text);

    EXPECT_EQ(Utf8ToCp932Shown(U8(u8"x\u00A5y\U0001F600表")), "x?y?" + Hyou());
    EXPECT_EQ(Utf8ToCp932Shown("a\xFF" "b"), "a?b");
}
