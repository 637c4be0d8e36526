// The Linux file layer: names, kinds, sizes, dates and the program's path.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "fs/fs.h"
#include "support/test_support.h"

using namespace testing_support;
namespace fsys = std::filesystem;

namespace {

std::string Native(const ByteString& path) { return NativePath(path).string(); }

std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// Switches the process's time zone for one test.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old, hadOld_ = true;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        if (hadOld_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string old_;
    bool hadOld_ = false;
};

// Seconds since 1970 of a UTC date in the proleptic Gregorian calendar
// (days-from-civil), for years far outside what the C library handles.
int64_t UtcSeconds(int64_t year, int month, int day, int hour, int minute, int second) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const int64_t days = era * 146097 + dayOfEra - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

void ExpectDate(const LocalDateTime& t, int64_t year, int month, int day, int hour, int minute, int second) {
    EXPECT_EQ(t.year, year);
    EXPECT_EQ(t.month, month);
    EXPECT_EQ(t.day, day);
    EXPECT_EQ(t.hour, hour);
    EXPECT_EQ(t.minute, minute);
    EXPECT_EQ(t.second, second);
}

}  // namespace

TEST(FsPosixConversion, EveryAsciiByteAndCharactersWithSeveralCodesAreExact) {
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

TEST(FsPosixListing, NamesWithoutACp932FormAreMarkedAndShownWithQuestionMarks) {
    TempFolder temp;
    const std::string folder = Native(temp.Path());
    { std::FILE* f = std::fopen((folder + "/" + U8(u8"yen\u00A5\U0001F600.txt")).c_str(), "w"); std::fclose(f); }
    { std::FILE* f = std::fopen((folder + "/bad\xFF" "byte").c_str(), "w"); std::fclose(f); }
    MakeFolder(temp.Join(Cp932(u8"表")));

    std::vector<FolderEntry> entries;
    ASSERT_TRUE(ListFolder(temp.Path(), entries));
    std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.name < b.name; });
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "bad?byte");
    EXPECT_FALSE(entries[0].convertible);
    EXPECT_EQ(entries[1].name, "yen??.txt");
    EXPECT_FALSE(entries[1].convertible);
    EXPECT_EQ(entries[1].kind, EntryKind::File);
    EXPECT_EQ(entries[2].name, Cp932(u8"表"));
    EXPECT_TRUE(entries[2].convertible);
    EXPECT_EQ(entries[2].kind, EntryKind::Folder);
    // The shown form names no file: nothing can be done to it by that name.
    EXPECT_EQ(FileExists(temp.Join(entries[1].name)), 0);
}

TEST(FsPosixListing, LinksAndSpecialFilesAreTold) {
    TempFolder temp;
    const std::string folder = Native(temp.Path());
    WriteBytes(temp.Join("file"), "x");
    MakeFolder(temp.Join("dir"));
    fsys::create_symlink("dir", folder + "/to-dir");
    fsys::create_symlink("file", folder + "/to-file");
    fsys::create_symlink("nowhere", folder + "/dangling");
    ASSERT_EQ(mkfifo((folder + "/fifo").c_str(), 0644), 0);

    const std::vector<std::pair<ByteString, EntryKind>> expected = {
        {"dangling", EntryKind::Special}, {"dir", EntryKind::Folder},  {"fifo", EntryKind::Special},
        {"file", EntryKind::File},        {"to-dir", EntryKind::FolderLink}, {"to-file", EntryKind::File},
    };
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(ListFolder(temp.Path(), entries));
    std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.name < b.name; });
    ASSERT_EQ(entries.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(entries[i].name, expected[i].first);
        EXPECT_EQ(entries[i].kind, expected[i].second) << expected[i].first;
        EXPECT_EQ(KindOf(temp.Join(expected[i].first)), expected[i].second) << expected[i].first;
    }
    EXPECT_EQ(KindOf("/dev/null"), EntryKind::Special);
    EXPECT_EQ(FileExists(temp.Join("dangling")), 1) << "a link counts as itself";
    EXPECT_EQ(FileSizeOf(temp.Join("to-file")), std::optional<int64_t>(1));
    EXPECT_EQ(FileSizeOf(temp.Join("dir")), std::nullopt);
    EXPECT_EQ(FileSizeOf(temp.Join("fifo")), std::nullopt);
    EXPECT_EQ(FileSizeOf(temp.Join("dangling")), std::nullopt);
}

TEST(FsPosixQueries, SizesBeyondFourGigabytesAndIdentitiesThroughLinks) {
    TempFolder temp;
    const ByteString big = temp.Join("sparse");
    WriteBytes(big, "");
    fsys::resize_file(NativePath(big), 5'000'000'123LL);
    EXPECT_EQ(FileSizeOf(big), std::optional<int64_t>(5'000'000'123LL));

    fsys::create_hard_link(NativePath(big), NativePath(temp.Join("second name")));
    EXPECT_EQ(FileIdOf(big), FileIdOf(temp.Join("second name")));

    // A destination given through a link is the folder it leads to.
    MakeFolder(temp.Join("folder"));
    fsys::create_directory_symlink("folder", NativePath(temp.Join("link")));
    ASSERT_TRUE(FileIdOf(temp.Join("folder")).has_value());
    EXPECT_EQ(FileIdOf(temp.Join("link")), FileIdOf(temp.Join("folder")));
}

TEST(FsPosixReading, AFailedReadThrows) {
    // The first page of the process's memory is never mapped: the file opens,
    // and the read fails.
    try {
        ReadTextFile("/proc/self/mem");
        FAIL() << "the read failure must be raised";
    } catch (const FileError& error) {
        EXPECT_EQ(error.step(), FileStep::Read);
        EXPECT_EQ(error.cause(), FileErrorCause::HardIO);
        EXPECT_EQ(FileErrorMessage(error), Cp932(u8"無題のﾌｧｲﾙ へのｱｸｾｽ中にﾊｰﾄﾞｳｪｱ I/O ｴﾗｰが報告されました。"));
    }
}

TEST(FsPosixProgram, ExecutablePathAndItsFolder) {
    const ByteString exe = ExecutablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe, fsys::canonical("/proc/self/exe").string());
    EXPECT_EQ(ProgramDir() + "fs_posix_test", exe);
    EXPECT_EQ(ProgramDirNoSlash() + "/fs_posix_test", exe);
}

TEST(FsPosixDates, LocalTimeFollowsTheZone) {
    const int64_t moment = UtcSeconds(2024, 12, 31, 20, 30, 15);
    {
        TimeZone zone("UTC0");
        ExpectDate(ToLocalDateTime(moment), 2024, 12, 31, 20, 30, 15);
    }
    {
        TimeZone zone("JST-9");
        ExpectDate(ToLocalDateTime(moment), 2025, 1, 1, 5, 30, 15);
    }
    const int64_t now = CurrentTimeSeconds();
    EXPECT_LE(std::abs(now - static_cast<int64_t>(std::time(nullptr))), 1);
}

TEST(FsPosixDates, YearsFarBeyond2038And9999) {
    TimeZone zone("JST-9");
    ExpectDate(ToLocalDateTime(UtcSeconds(2040, 2, 29, 12, 0, 0)), 2040, 2, 29, 21, 0, 0);
    ExpectDate(ToLocalDateTime(UtcSeconds(10000, 1, 1, 0, 0, 0)), 10000, 1, 1, 9, 0, 0);
    // Beyond the C library's int year: the date must still be exact.
    ExpectDate(ToLocalDateTime(UtcSeconds(5'000'000'000LL, 2, 29, 14, 59, 59)), 5'000'000'000LL, 2, 29, 23, 59, 59);
    ExpectDate(ToLocalDateTime(UtcSeconds(123'456'789'012LL, 12, 31, 15, 0, 0)), 123'456'789'013LL, 1, 1, 0, 0, 0);
    ExpectDate(ToLocalDateTime(UtcSeconds(-3'000'000'000LL, 3, 1, 0, 0, 0)), -3'000'000'000LL, 3, 1, 9, 0, 0);
}
