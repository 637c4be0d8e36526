// The scans that cut a source path into the pieces the name tokens use: read
// by characters, so the second byte of ソ, 表, 申 ... (0x5C) is no separator.
#include <gtest/gtest.h>

#include "naming/name_engine.h"

namespace {

struct Piece {
    ByteString input;
    ByteString expected;
};

TEST(PathPieces, FileNamePartIsWhatFollowsTheLastSeparator) {
    const Piece cases[] = {
        {"C:\\data\\report.txt", "report.txt"},
        {"/home/user/report.txt", "report.txt"},
        {"C:\\data/sub\\x.y", "x.y"},
        {"\\a", "a"},
        {"C:\\data\\", ""},           // ends in a separator
        {"report.txt", ""},           // no separator at all
        {"", ""},
        {Cp932(u8"C:\\data\\表.txt"), Cp932(u8"表.txt")},  // 表 is 0x95 0x5C
        {Cp932(u8"C:\\data\\申請書.pdf"), Cp932(u8"申請書.pdf")},
        {Cp932(u8"C:\\ソフト\\能"), Cp932(u8"能")},       // ends in the byte 0x5C
        {Cp932(u8"C:\\data\\記録.txt"), Cp932(u8"記録.txt")},
        {"C:\\a\x95", "a\x95"},  // a lead byte at the very end stands alone
    };
    for (const Piece& c : cases) EXPECT_EQ(c.expected, FileNamePart(c.input)) << c.input;
}

TEST(PathPieces, StripExtensionRemovesTheLastDotOfTheLastComponent) {
    const Piece cases[] = {
        {"report.txt", "report"},
        {"archive.tar.gz", "archive.tar"},
        {"abc.", "abc"},
        {"b.pdf", "b"},            // a dot at index 1 starts an extension
        {".profile", ".profile"},  // one at index 0 does not
        {"..x", "."},
        {"ab", "ab"},
        {"", ""},
        {"README", "README"},
        {"dir.d\\file", "dir.d\\file"},  // a dot before the last separator never counts
        {"dir.d/file", "dir.d/file"},
        {"dir\\.x", "dir\\.x"},
        {Cp932(u8"表.txt"), Cp932(u8"表")},
        {Cp932(u8"表.ソ"), Cp932(u8"表")},
    };
    for (const Piece& c : cases) EXPECT_EQ(c.expected, StripExtension(c.input)) << c.input;
}

TEST(PathPieces, ExtensionOfTakesOnlyTheLastComponent) {
    const Piece cases[] = {
        {"C:\\data\\report.txt", "txt"},
        {"C:\\data\\archive.tar.gz", "gz"},
        {"C:\\my.dir\\README", ""},  // never holds a separator
        {"/home/u.v/README", ""},
        {"C:\\v1.2\\README", ""},
        {"C:\\data\\README", ""},
        {"C:\\data\\name.", ""},
        {"C:\\data\\b.pdf", "pdf"},
        {"C:\\data\\.profile", ""},
        {Cp932(u8"C:\\data\\表.txt"), "txt"},  // not ".txt" after a false separator
        {Cp932(u8"C:\\data\\申請書.pdf"), "pdf"},
        {Cp932(u8"C:\\data\\a.表"), Cp932(u8"表")},
        {"a.x", "x"},
        {".x", ""},
        {"", ""},
    };
    for (const Piece& c : cases) EXPECT_EQ(c.expected, ExtensionOf(c.input)) << c.input;
}

}  // namespace
