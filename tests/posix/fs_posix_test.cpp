// The Linux file layer: names, kinds, sizes and the program's path.
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

}  // namespace

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
    EXPECT_TRUE(FileExists(temp.Join("dangling"))) << "a link counts as itself";
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
        (void)ReadTextFile("/proc/self/mem");
        FAIL() << "the read failure must be raised";
    } catch (const FileError& error) {
        EXPECT_EQ(error.step(), FileStep::Read);
        EXPECT_EQ(error.cause(), FileErrorCause::HardIO);
        EXPECT_EQ(error.path(), "/proc/self/mem");
    }
}

TEST(FsPosixProgram, ExecutablePathAndItsFolder) {
    const ByteString exe = ExecutablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe, fsys::canonical("/proc/self/exe").string());
    EXPECT_EQ(ProgramDir() + "fs_posix_test", exe);
    EXPECT_EQ(ProgramDirNoSlash() + "/fs_posix_test", exe);
}
