#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "fs/fs.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// The program folder of these tests holds a double-byte name whose second byte
// is 0x5C ("表"), as a folder of a real user may.
class SettingsFileTest : public ::testing::Test {
protected:
    SettingsFileTest() {
        const ByteString native = temp_.Join(Cp932(u8"設定表"));
        MakeFolder(native);
        folder_ = native + kPathSeparator;
    }

    ByteString SettingsPath() const { return folder_ + "Morvandel.sav"; }
    void WriteSettings(const std::string& content) const { WriteBytes(SettingsPath(), content); }

    TempFolder temp_;
    ByteString folder_;
};

DropSettings SampleSettings() {
    return {Cp932(u8"D:\\書類\\表=整理\\"), Cp932(u8"[ファイルタイトル]=表[連番].[拡張子]"), 0, 1, 1, 1,
            std::numeric_limits<int32_t>::min(), 1, 1};
}

// The nine settings side by side, for comparisons that name every field.
auto Fields(const DropSettings& s) {
    return std::tie(s.m_sWhere, s.m_sFileNameFormat, s.m_nMode, s.m_bChangeLog, s.m_bErrorLog,
                    s.m_bFileDontMove, s.m_nKBytes, s.m_nDontMoveMode, s.m_bDeleteDerectory);
}

TEST_F(SettingsFileTest, MissingOrUnreadableFileGivesEveryDefault) {
    const DropSettings defaults{folder_ + "MovedFiles" + kPathSeparator,
                                Cp932(u8"[ファイルタイトル]_[現在の日付].[拡張子]"), 1, 0, 0, 0, 10, 0, 0};
    EXPECT_EQ(Fields(defaults), Fields(LoadSettings(folder_))) << "missing";

    // A folder in the place of the file: opening or reading it fails, and the
    // settings must fall back to their defaults rather than end the program.
    MakeFolder(SettingsPath());
    DropSettings s;
    ASSERT_NO_THROW(s = LoadSettings(folder_));
    EXPECT_EQ(Fields(defaults), Fields(s)) << "unreadable";
}

TEST_F(SettingsFileTest, SavedFileHoldsExactlyTheNineLines) {
    // A longer old file must not leave a tail behind the new content.
    WriteSettings(std::string(5000, 'x') + "\r\n");
    DropSettings s = SampleSettings();
    s.m_nKBytes = -25;
    SaveSettings(s, folder_);
    EXPECT_EQ("m_sWhere=" + s.m_sWhere + "\r\n" +
                  "m_sFileNameFormat=" + s.m_sFileNameFormat + "\r\n" +
                  "m_nMode=0\r\nm_bChangeLog=1\r\nm_bErrorLog=1\r\nm_bFileDontMove=1\r\n"
                  "m_nKBytes=-25\r\nm_nDontMoveMode=1\r\nm_bDeleteDerectory=1\r\n",
              ReadBytes(SettingsPath()));
}

TEST_F(SettingsFileTest, SavedSettingsLoadBackUnchanged) {
    DropSettings empty;  // empty texts and the plain defaults of the numbers
    DropSettings extremes = SampleSettings();
    extremes.m_nMode = std::numeric_limits<int32_t>::max();
    extremes.m_nDontMoveMode = -7;
    for (const DropSettings& saved : {SampleSettings(), empty, extremes}) {
        SaveSettings(saved, folder_);
        EXPECT_EQ(Fields(saved), Fields(LoadSettings(folder_)));
    }
}

TEST_F(SettingsFileTest, LoadingReadsFlagsAsFlagsAndNumbersAsNumbers) {
    WriteSettings(
        "m_nMode=5\r\nm_bChangeLog=2\r\nm_bErrorLog=1\r\nm_bFileDontMove=01\r\n"
        "m_nKBytes=12abc\r\nm_nDontMoveMode=2\r\nm_bDeleteDerectory=1 \r\n");
    const DropSettings expected{folder_ + "MovedFiles" + kPathSeparator,
                                Cp932(u8"[ファイルタイトル]_[現在の日付].[拡張子]"), 5, 0, 1, 0, 12, 2, 0};
    EXPECT_EQ(Fields(expected), Fields(LoadSettings(folder_)));
}

TEST_F(SettingsFileTest, LineLookupRules) {
    struct Case {
        std::string content;
        ByteString expected;
    };
    const std::vector<Case> cases = {
        {"m_sWhere=C:\\a=b\\\r\n", "C:\\a=b\\"},                  // value keeps its "="
        {"m_sWhere=first\r\nm_sWhere=second\r\n", "first"},      // first line wins
        {"M_SWHERE=upper\r\nm_sWhere=exact\r\n", "exact"},       // keys compare exactly
        {"m_sWhere =spaced\r\n", "default"},
        {"\r\n\r\nm_sWhere\r\nnoise\r\n\nm_sWhere=after\r\n", "after"},  // blank and "=" less lines
        {"a=1\nm_sWhere=lf\n", "lf"},                            // LF alone ends a line
        {"a=1\rm_sWhere=cr\r", "cr"},                            // CR alone too
        {"m_sWhere=\r\n", ""},                                   // present but empty
        {"m_sWhere=unfinished", "default"},                      // last line never examined
        {"", "default"},
    };
    for (const Case& c : cases) {
        WriteSettings(c.content);
        EXPECT_EQ(c.expected, SavGetString(folder_, "Morvandel", "m_sWhere", "default"))
            << "content: " << c.content;
    }
}

TEST_F(SettingsFileTest, SectionNamesTheFile) {
    WriteBytes(folder_ + "Other.sav", "key=other\r\n");
    WriteSettings("key=main\r\n");
    EXPECT_EQ("other", SavGetString(folder_, "Other", "key", "-"));
    EXPECT_EQ("main", SavGetString(folder_, "Morvandel", "key", "-"));
    EXPECT_EQ("-", SavGetString(folder_, "Missing", "key", "-"));
}

TEST_F(SettingsFileTest, IntegersReadLikeAtolAndWrapModulo2To32) {
    struct Case {
        std::string value;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {"42", 42},
        {"12abc", 12},
        {"", 0},
        {"-", 0},
        {"- 5", 0},
        {" \t\v\f-17", -17},
        {"+8", 8},
        {"2147483647", 2147483647},
        {"2147483648", std::numeric_limits<int32_t>::min()},
        {"4294967306", 10},               // 2^32 + 10
        {"-4294967297", -1},              // -(2^32 + 1)
        {"100000000000000000000", 1661992960},  // 10^20 mod 2^32
        {"-100000000000000000000", -1661992960},
        {Cp932(u8"１２"), 0},             // full-width digits are not digits
    };
    for (const Case& c : cases) {
        WriteSettings("m_nKBytes=" + c.value + "\r\n");
        EXPECT_EQ(c.expected, SavGetInt(folder_, "Morvandel", "m_nKBytes", 10)) << "value: " << c.value;
    }
    WriteSettings("m_nMode=3\r\n");
    EXPECT_EQ(10, SavGetInt(folder_, "Morvandel", "m_nKBytes", 10));
}

TEST_F(SettingsFileTest, FlagsAreOneOnlyForExactlyOne) {
    struct Case {
        std::string line;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {"m_bChangeLog=1\r\n", 1},   {"m_bChangeLog=0\r\n", 0}, {"m_bChangeLog=2\r\n", 0},
        {"m_bChangeLog=01\r\n", 0},  {"m_bChangeLog= 1\r\n", 0}, {"m_bChangeLog=\r\n", 0},
        {"m_bChangeLog=1", 7},       {"other=1\r\n", 7},
    };
    for (const Case& c : cases) {
        WriteSettings(c.line);
        EXPECT_EQ(c.expected, SavGetBool(folder_, "Morvandel", "m_bChangeLog", 7)) << "line: " << c.line;
    }
}

TEST_F(SettingsFileTest, ReadOnlySettingsFileIsSavedAllTheSame) {
    namespace fsys = std::filesystem;
    SaveSettings(DropSettings{}, folder_);
    const fsys::path native = NativePath(SettingsPath());
    fsys::permissions(native, fsys::perms::owner_read | fsys::perms::group_read | fsys::perms::others_read,
                      fsys::perm_options::replace);
    ASSERT_EQ(fsys::perms::none, fsys::status(native).permissions() & fsys::perms::owner_write)
        << "the file should carry the read-only mark before the save";
    if (std::ofstream(native, std::ios::app)) {
        GTEST_SKIP() << "this user writes read-only files anyway (root, or Wine run as root); on Linux "
                        "settings_file_posix_test covers it as an unprivileged user";
    }

    SaveSettings(SampleSettings(), folder_);
    EXPECT_EQ(Fields(SampleSettings()), Fields(LoadSettings(folder_)));
}

TEST_F(SettingsFileTest, SaveFailingPartWayKeepsOldFileAndReportsFullDisk) {
    {
        ShortWritesAfter seam(30);
        EXPECT_THROW(SaveSettings(SampleSettings(), folder_), FileError);
    }
    // No half-written first file that would later load as half the settings.
    EXPECT_TRUE(NamesIn(folder_).empty());

    DropSettings old = SampleSettings();
    old.m_nKBytes = 99;
    SaveSettings(old, folder_);
    const std::string oldBytes = ReadBytes(SettingsPath());
    for (int64_t storedBytes : {0, 20, 100}) {
        try {
            ShortWritesAfter seam(storedBytes);
            SaveSettings(DropSettings{}, folder_);
            ADD_FAILURE() << "a short write after " << storedBytes << " bytes was not reported";
        } catch (const FileError& error) {
            EXPECT_EQ(FileErrorCause::DiskFull, error.cause());
            EXPECT_EQ(FileStep::Write, error.step());
            EXPECT_EQ(SettingsPath(), error.path());
        }
        EXPECT_EQ(oldBytes, ReadBytes(SettingsPath()));
        EXPECT_EQ(std::vector<ByteString>{"Morvandel.sav"}, NamesIn(folder_)) << "nothing left behind";
    }
}

}  // namespace
