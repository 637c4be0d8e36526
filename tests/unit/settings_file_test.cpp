#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
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
    DropSettings s;
    s.m_sWhere = Cp932(u8"D:\\書類\\表=整理\\");
    s.m_sFileNameFormat = Cp932(u8"[ファイルタイトル]=表[連番].[拡張子]");
    s.m_nMode = 0;
    s.m_bChangeLog = 1;
    s.m_bErrorLog = 1;
    s.m_bFileDontMove = 1;
    s.m_nKBytes = std::numeric_limits<int32_t>::min();
    s.m_nDontMoveMode = 1;
    s.m_bDeleteDerectory = 1;
    return s;
}

void ExpectSameSettings(const DropSettings& expected, const DropSettings& actual) {
    EXPECT_EQ(expected.m_sWhere, actual.m_sWhere);
    EXPECT_EQ(expected.m_sFileNameFormat, actual.m_sFileNameFormat);
    EXPECT_EQ(expected.m_nMode, actual.m_nMode);
    EXPECT_EQ(expected.m_bChangeLog, actual.m_bChangeLog);
    EXPECT_EQ(expected.m_bErrorLog, actual.m_bErrorLog);
    EXPECT_EQ(expected.m_bFileDontMove, actual.m_bFileDontMove);
    EXPECT_EQ(expected.m_nKBytes, actual.m_nKBytes);
    EXPECT_EQ(expected.m_nDontMoveMode, actual.m_nDontMoveMode);
    EXPECT_EQ(expected.m_bDeleteDerectory, actual.m_bDeleteDerectory);
}


TEST_F(SettingsFileTest, MissingFileGivesEveryDefault) {
    const DropSettings s = LoadSettings(folder_);
    EXPECT_EQ(folder_ + "MovedFiles" + kPathSeparator, s.m_sWhere);
    EXPECT_EQ(Cp932(u8"[ファイルタイトル]_[現在の日付].[拡張子]"), s.m_sFileNameFormat);
    EXPECT_EQ(1, s.m_nMode);
    EXPECT_EQ(0, s.m_bChangeLog);
    EXPECT_EQ(0, s.m_bErrorLog);
    EXPECT_EQ(0, s.m_bFileDontMove);
    EXPECT_EQ(10, s.m_nKBytes);
    EXPECT_EQ(0, s.m_nDontMoveMode);
    EXPECT_EQ(0, s.m_bDeleteDerectory);
}

TEST_F(SettingsFileTest, UnreadableSettingsFileGivesDefaults) {
    // A folder in the place of the file: opening or reading it fails, and the
    // settings must fall back to their defaults rather than end the program.
    MakeFolder(SettingsPath());
    DropSettings s;
    ASSERT_NO_THROW(s = LoadSettings(folder_));
    EXPECT_EQ(folder_ + "MovedFiles" + kPathSeparator, s.m_sWhere);
    EXPECT_EQ(10, s.m_nKBytes);
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
        ExpectSameSettings(saved, LoadSettings(folder_));
    }
}

TEST_F(SettingsFileTest, LoadingReadsFlagsAsFlagsAndNumbersAsNumbers) {
    WriteSettings(
        "m_nMode=5\r\nm_bChangeLog=2\r\nm_bErrorLog=1\r\nm_bFileDontMove=01\r\n"
        "m_nKBytes=12abc\r\nm_nDontMoveMode=2\r\nm_bDeleteDerectory=1 \r\n");
    const DropSettings s = LoadSettings(folder_);
    EXPECT_EQ(5, s.m_nMode);
    EXPECT_EQ(0, s.m_bChangeLog);
    EXPECT_EQ(1, s.m_bErrorLog);
    EXPECT_EQ(0, s.m_bFileDontMove);
    EXPECT_EQ(12, s.m_nKBytes);
    EXPECT_EQ(2, s.m_nDontMoveMode);
    EXPECT_EQ(0, s.m_bDeleteDerectory);
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
        GTEST_SKIP() << "this user writes read-only files anyway (root); "
                        "settings_file_posix_test covers it as an unprivileged user";
    }

    const DropSettings saved = SampleSettings();
    SaveSettings(saved, folder_);
    ExpectSameSettings(saved, LoadSettings(folder_));
}

TEST_F(SettingsFileTest, SaveFailingPartWayKeepsOldFileAndReportsFullDisk) {
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
            EXPECT_EQ(SettingsPath() + Cp932(u8" へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。"),
                      FileErrorMessage(error));
        }
        EXPECT_EQ(oldBytes, ReadBytes(SettingsPath()));
        EXPECT_EQ(std::vector<ByteString>{"Morvandel.sav"}, NamesIn(folder_)) << "nothing left behind";
    }
    ExpectSameSettings(old, LoadSettings(folder_));
}

TEST_F(SettingsFileTest, FirstSaveFailingPartWayLeavesNoSettingsFile) {
    {
        ShortWritesAfter seam(30);
        EXPECT_THROW(SaveSettings(SampleSettings(), folder_), FileError);
    }
    // No half-written file that would later load as half the settings.
    EXPECT_TRUE(NamesIn(folder_).empty());
}

}  // namespace
