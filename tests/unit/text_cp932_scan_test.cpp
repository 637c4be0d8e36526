// The character scans of code page 932 text, with what a byte scan would get
// wrong: a second byte 0x5C ("\") after a lead byte.
#include <gtest/gtest.h>

#include "text/cp932_scan.h"

namespace {

TEST(Cp932Scan, TheLastCharacterIsASeparatorOnlyWhenItIsOneByte) {
    const struct {
        ByteString text;
        bool endsWithBackslash;
        size_t lastSeparator;
    } cases[] = {
        {"C:\\dest\\", true, 7},
        {"C:\\dest", false, 2},
        {Cp932(u8"C:\\ソ"), false, 2},          // 0x83 0x5C
        {Cp932(u8"C:\\ソ\\"), true, 5},
        {"\x5C", true, 0},
        {Cp932(u8"表表"), false, std::string::npos},  // 0x95 0x5C twice
        {"\\\x83\x5C", false, 0},
        {"a\\\x83", false, 1},  // a lead byte at the end stands alone
        {"", false, std::string::npos},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EndsWithCharacter(c.text, '\\'), c.endsWithBackslash) << c.text;
        EXPECT_EQ(LastSeparatorIndex(c.text), c.lastSeparator) << c.text;
    }
}

}  // namespace
