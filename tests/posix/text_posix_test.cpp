// The strict conversions of the Linux build (iconv): characters with
// several codes convert exactly or not at all.
#include <gtest/gtest.h>

#include <string>

#include "text/byte_string.h"
#include "text/encoding.h"

namespace {

std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

}  // namespace

TEST(TextPosixConversion, EveryAsciiByteAndCharactersWithSeveralCodesAreExact) {
    // 0x5C and 0x7E are the backslash and tilde here, never yen and overline.
    std::string utf8;
    ASSERT_TRUE(Cp932ToUtf8("\\~", utf8));
    EXPECT_EQ(utf8, "\\~");
    // U+2212 (minus) would best-fit to 0x817C, which means U+FF0D.
    ByteString text;
    EXPECT_FALSE(Utf8ToCp932(U8(u8"\u2212"), text));
    ASSERT_TRUE(Utf8ToCp932(U8(u8"\uFF0D"), text));
    EXPECT_EQ(text, "\x81\x7C");
    // 0x8160 reads as U+FF5E, which has to give 0x8160 back.
    ASSERT_TRUE(Cp932ToUtf8("\x81\x60", utf8));
    EXPECT_EQ(utf8, U8(u8"\uFF5E"));
}
