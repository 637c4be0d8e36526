// The byte scans that cut a source path into the pieces the name tokens use.
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
        {Cp932(u8"C:\\data\\表.txt"), ".txt"},  // 表 ends in byte 0x5C
        {Cp932(u8"C:\\data\\記録.txt"), Cp932(u8"記録.txt")},
    };
    for (const Piece& c : cases) EXPECT_EQ(c.expected, FileNamePart(c.input)) << c.input;
}

TEST(PathPieces, StripExtensionRemovesTheLastDotFromIndexTwoOn) {
    const Piece cases[] = {
        {"report.txt", "report"},
        {"archive.tar.gz", "archive.tar"},
        {"abc.", "abc"},
        {"ab.c", "ab"},
        {"a.txt", "a.txt"},        // dot at index 1 is never examined
        {".profile", ".profile"},  // nor one at index 0
        {"..x", "..x"},
        {"ab", "ab"},
        {"", ""},
        {"README", "README"},
        {"dir.d\\file", "dir.d\\file"},  // a separator ends the search
        {"dir.d/file", "dir.d/file"},
        {Cp932(u8"表.txt"), Cp932(u8"表")},
    };
    for (const Piece& c : cases) EXPECT_EQ(c.expected, StripExtension(c.input)) << c.input;
}

TEST(PathPieces, ExtensionOfFollowsTheLastDotAcrossSeparators) {
    const Piece cases[] = {
        {"C:\\data\\report.txt", "txt"},
        {"C:\\data\\archive.tar.gz", "gz"},
        {"C:\\my.dir\\README", "dir\\README"},
        {"/home/u.v/README", "v/README"},
        {"C:\\data\\README", ""},
        {"C:\\data\\name.", ""},
        {"a.x", "x"},
        {".x", ""},  // index 0 is never examined
        {"", ""},
    };
    for (const Piece& c : cases) EXPECT_EQ(c.expected, ExtensionOf(c.input)) << c.input;
}

}  // namespace
