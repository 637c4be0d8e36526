// The Linux file layer: names, kinds, sizes, dates and the program's path.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "fs/fs.h"
#include "text/encoding.h"
#include "support/fs_helpers.h"
#include "support/test_support.h"

using namespace testing_support;
namespace fsys = std::filesystem;

namespace {

std::string Native(const ByteString& path) { return NativePath(path).string(); }

std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// Switches the process's time zone while it lives.
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

TEST(FsPosixListing, KindsOfLinksAndSpecialFilesAndNamesWithoutACp932Form) {
    TempFolder temp;
    const std::string folder = Native(temp.Path());
    std::ofstream(folder + "/" + U8(u8"yen\u00A5\U0001F600.txt"));
    std::ofstream(folder + "/bad\xFF" "byte");
    MakeFolder(temp.Join(Cp932(u8"表")));
    WriteBytes(temp.Join("file"), "x");
    MakeFolder(temp.Join("dir"));
    fsys::create_symlink("dir", folder + "/to-dir");
    fsys::create_symlink("file", folder + "/to-file");
    fsys::create_symlink("nowhere", folder + "/dangling");
    ASSERT_EQ(mkfifo((folder + "/fifo").c_str(), 0644), 0);

    EXPECT_EQ(DescribedListing(temp.Path()),
              (std::vector<std::string>{"bad?byte File unreachable", "dangling Special", "dir Folder", "fifo Special",
                                        "file File", "to-dir FolderLink", "to-file File",
                                        "yen??.txt File unreachable", Cp932(u8"表") + " Folder"}));
    // The listing and KindOf agree; a shown form names no file, so nothing
    // can be done to the entry by that name.
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(ListFolder(temp.Path(), entries));
    for (const FolderEntry& entry : entries)
        EXPECT_EQ(KindOf(temp.Join(entry.name)), entry.convertible ? entry.kind : EntryKind::Missing) << entry.name;

    EXPECT_EQ(KindOf("/dev/null"), EntryKind::Special);
    EXPECT_EQ(FileExists(temp.Join("dangling")), 1) << "a link counts as itself";
    EXPECT_EQ(FileSizeOf(temp.Join("to-file")), std::optional<int64_t>(1));
    for (const char* name : {"dir", "fifo", "dangling"}) EXPECT_EQ(FileSizeOf(temp.Join(name)), std::nullopt) << name;
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

TEST(FsPosixDates, LocalTimeFollowsTheZoneFarBeyond2038AndTheCLibrarysIntYear) {
    struct Row {
        const char* zone;
        LocalDateTime utc;
        const char* local;
    };
    const Row rows[] = {
        {"UTC0", {2024, 12, 31, 20, 30, 15}, "2024-12-31 20:30:15"},
        {"JST-9", {2024, 12, 31, 20, 30, 15}, "2025-01-01 05:30:15"},
        {"JST-9", {2040, 2, 29, 12, 0, 0}, "2040-02-29 21:00:00"},
        {"JST-9", {10000, 1, 1, 0, 0, 0}, "10000-01-01 09:00:00"},
        {"JST-9", {5'000'000'000LL, 2, 29, 14, 59, 59}, "5000000000-02-29 23:59:59"},
        {"JST-9", {123'456'789'012LL, 12, 31, 15, 0, 0}, "123456789013-01-01 00:00:00"},
        {"JST-9", {-3'000'000'000LL, 3, 1, 0, 0, 0}, "-3000000000-03-01 09:00:00"},
    };
    for (const Row& row : rows) {
        TimeZone zone(row.zone);
        EXPECT_EQ(DateText(ToLocalDateTime(SecondsOf(row.utc))), row.local) << row.zone;
    }
    EXPECT_LE(std::abs(CurrentTimeSeconds() - static_cast<int64_t>(std::time(nullptr))), 1);
}
