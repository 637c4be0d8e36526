// The Windows file layer: names and paths beyond the classic rules and
// limits, moves across volumes, the copy's refusals, the write seam and the
// executable's path.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <optional>

#include "fs/fs.h"
#include "support/fs_seams.h"
#include "fs/fs_win32_internal.h"
#include "text/text_win32.h"
#include "support/fs_helpers.h"
#include "support/test_support.h"

namespace {

using namespace testing_support;

std::wstring Wide(const ByteString& path) {
    std::wstring wide;
    EXPECT_TRUE(Cp932ToWide(path, wide));
    return wide;
}

void CreateEmptyFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create the test file";
    CloseHandle(file);
}

const FILETIME kIn1994{0x12345600, 0x01c00000};

void SetWriteTime(const ByteString& path, const FILETIME& time) {
    HANDLE file = CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
    CloseHandle(file);
}

WIN32_FILE_ATTRIBUTE_DATA AttributesOf(const ByteString& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    EXPECT_TRUE(GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) << path;
    return data;
}

// ---------------------------------------------------------------- names

TEST(Win32Names, NameWithoutCp932FormIsListedAsNotConvertible) {
    TempFolder temp;
    CreateEmptyFile(Wide(temp.Path()) + L"\\caf\u00e9.txt");
    WriteBytes(temp.Join("\x95\x5c.txt"), "");

    EXPECT_EQ(DescribedListing(temp.Path()),
              (std::vector<std::string>{"caf?.txt File unreachable", "\x95\x5c.txt File"}));
    // The "?" form names no file: nothing may be done to another in its place.
    EXPECT_FALSE(FileExists(temp.Join("caf?.txt")));
    EXPECT_FALSE(RemoveFile(temp.Join("caf?.txt")));
}

// Names that only "\\?\" paths (or another system) can make: a Win32 path
// would trim the dot or blank and reach "report" instead, or read CON as the
// console.
TEST(Win32Names, EntriesThatWin32PathsCannotReachAreNotUsable) {
    TempFolder temp;
    WriteBytes(temp.Join("report"), "another file");
    const std::wstring verbatim = L"\\\\?\\" + Wide(temp.Path()) + L"\\";
    const std::vector<std::wstring> unreachable{L"report.", L"report ", L"CON"};
    for (const std::wstring& name : unreachable) CreateEmptyFile(verbatim + name);
    EXPECT_EQ(DescribedListing(temp.Path()),
              (std::vector<std::string>{"CON File unreachable", "report File", "report  File unreachable",
                                        "report. File unreachable"}));
    for (const std::wstring& name : unreachable) DeleteFileW((verbatim + name).c_str());
}

TEST(Win32Names, DriveRootAndTrailingSeparatorExist) {
    TempFolder temp;
    EXPECT_TRUE(FileExists("C:\\"));
    EXPECT_TRUE(FileExists(temp.Path() + "\\"));
    EXPECT_FALSE(FileExists(temp.Join("*")));  // a pattern is no name
}

// ---------------------------------------------------------------- long paths

// A long path is resolved as Windows resolves a short one: "/" and ".." are
// followed, and a last name ending in "." or a blank is trimmed, so that no
// file is made that a short path (or Explorer) cannot reach.
TEST(Win32LongPath, SlashesDotsAndTrailingBlanksAreResolvedAsForAShortPath) {
    TempFolder temp;
    const ByteString shortFolder = temp.Join("short");
    ByteString longFolder = temp.Path();
    for (int i = 0; i < 5; ++i) longFolder += "\\" + ByteString(60, static_cast<char>('a' + i));
    CreateFolderChain(shortFolder);
    CreateFolderChain(longFolder);
    for (const ByteString& folder : {shortFolder, longFolder}) {
        SCOPED_TRACE(folder);
        EXPECT_TRUE(WriteTextFile(folder + "\\file.", "dot"));
        EXPECT_TRUE(AppendTextToFile(folder + "\\file ", "+blank"));
        EXPECT_TRUE(CreateFolder(folder + "\\sub. "));
        EXPECT_TRUE(CopyOverwrite(folder + "\\file", folder + "\\copy."));
        EXPECT_EQ(DescribedListing(folder), (std::vector<std::string>{"copy File", "file File", "sub Folder"}));
    }
    EXPECT_EQ(ReadTextFile(longFolder + "\\file"), "dot+blank");

    ByteString slashed = longFolder;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    EXPECT_TRUE(WriteTextFile(slashed + "/x/../f.txt", "via slashes"));
    EXPECT_EQ(ReadTextFile(longFolder + "\\f.txt"), "via slashes");
}

// ---------------------------------------------------------------- moves

// Wine shows /dev/shm as Z:\dev\shm, a volume other than the one of the
// temporary folder.
class Win32MoveAcrossVolumes : public ::testing::Test {
protected:
    void SetUp() override {
        const DWORD attributes = GetFileAttributesW(L"Z:\\dev\\shm");  // a mount point: a folder link
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            GTEST_SKIP() << "no second volume here";
        other.emplace("Z:\\dev\\shm");
        WriteBytes(temp.Join("probe"), "");
        const bool renamed =
            MoveFileExW(Wide(temp.Join("probe")).c_str(), Wide(other->Join("probe")).c_str(), 0) != 0;
        if (renamed || GetLastError() != ERROR_NOT_SAME_DEVICE) GTEST_SKIP() << "Z:\\dev\\shm is on the same volume";
        DeleteFileW(Wide(temp.Join("probe")).c_str());
    }

    TempFolder temp;
    std::optional<TempFolder> other;
};

TEST_F(Win32MoveAcrossVolumes, MovesAReadOnlyFileWithItsTimeAndMarks) {
    const ByteString source = temp.Join("report.txt");
    const std::string content(300000, 'r');
    WriteBytes(source, content);
    SetWriteTime(source, kIn1994);
    ASSERT_TRUE(SetFileAttributesW(Wide(source).c_str(), FILE_ATTRIBUTE_READONLY));

    const ByteString destination = other->Join("moved.txt");
    ASSERT_TRUE(MoveNoOverwrite(source, destination));
    EXPECT_EQ(NamesIn(temp.Path()), std::vector<ByteString>{});
    EXPECT_EQ(NamesIn(other->Path()), std::vector<ByteString>{"moved.txt"});
    EXPECT_EQ(ReadBytes(destination), content);
    const WIN32_FILE_ATTRIBUTE_DATA data = AttributesOf(destination);
    EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, kIn1994.dwHighDateTime);
}

TEST_F(Win32MoveAcrossVolumes, AMoveThatCannotFinishLeavesTheSourceAndNoCopy) {
    const ByteString source = temp.Join("held.txt");
    const std::string content(100000, 's');
    WriteBytes(source, content);
    {
        ShortWritesAfter diskFullAfter(5000);
        EXPECT_FALSE(MoveNoOverwrite(source, other->Join("held.txt")));
    }
    EXPECT_EQ(NamesIn(other->Path()), std::vector<ByteString>{});

    // Held open by a reader that does not allow deleting: the copy must not stay.
    HANDLE held = CreateFileW(Wide(source).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const int moved = MoveNoOverwrite(source, other->Join("held.txt"));
    CloseHandle(held);
    EXPECT_EQ(moved, 0);
    EXPECT_EQ(NamesIn(other->Path()), std::vector<ByteString>{});
    EXPECT_EQ(ReadBytes(source), content);
}

// Between the copy and the removal of its source, the source is held: what
// would change it (a program saving over it, appending to it, renaming or
// deleting it) is refused, and the move carries the file as it was copied.
// What may still touch it (its time, which needs no sharing; a file server's
// own programs, which Windows does not stop) makes the move fail: the source
// stays as it is now, and no copy remains.
TEST_F(Win32MoveAcrossVolumes, TheSourceIsHeldUntilItGoesAndStaysWhenItChangedAllTheSame) {
    const ByteString source = temp.Join("draft.txt");
    const ByteString destination = other->Join("draft.txt");
    const std::wstring from = Wide(source);
    const struct {
        const char* what;
        std::function<bool()> change;  // true when the change was made
        bool moved;
    } cases[] = {
        {"growing", [&] { return AppendTextToFile(source, "+more"); }, true},
        {"saved over", [&] {
             WriteBytes(temp.Join("new"), "v2");
             return MoveFileExW(Wide(temp.Join("new")).c_str(), from.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
         }, true},
        {"renamed", [&] { return MoveFileW(from.c_str(), Wide(temp.Join("away")).c_str()) != 0; }, true},
        {"deleted", [&] { return DeleteFileW(from.c_str()) != 0; }, true},
        {"its time set", [&] {
             SetWriteTime(source, kIn1994);
             return true;
         }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(source, "v1");
        bool changed = false;
        testing_support::SetBeforeSourceRemoval([&] { changed = c.change(); });
        EXPECT_EQ(MoveNoOverwrite(source, destination), c.moved);
        testing_support::SetBeforeSourceRemoval(nullptr);
        EXPECT_EQ(changed, !c.moved);
        EXPECT_EQ(Exists(source), !c.moved);
        EXPECT_EQ(NamesIn(other->Path()), c.moved ? std::vector<ByteString>{"draft.txt"} : std::vector<ByteString>{});
        if (c.moved) {
            EXPECT_EQ(ReadBytes(destination), "v1");
        }
        (void)DeleteFileW(Wide(destination).c_str());
        (void)DeleteFileW(Wide(temp.Join("new")).c_str());
    }
}

// The system reports a move as done while the source is still there, as a
// system that copied the file and could not delete it does: the move is not
// done, the source stays, and the placed file is taken back unless it
// changed since.
TEST(Win32Move, AMoveIsDoneOnlyWhenTheSourceIsGone) {
    TempFolder temp;
    const ByteString source = temp.Join("report.txt");
    const ByteString destination = temp.Join("moved.txt");
    const struct {
        const char* what;
        std::function<void(const std::wstring&, const std::wstring&)> leave;
        const char* placed;  // what stays at the destination; nullptr: nothing
    } cases[] = {
        {"the source left as a second name of the file",
         [](const std::wstring& from, const std::wstring& to) { CreateHardLinkW(from.c_str(), to.c_str(), nullptr); },
         nullptr},
        {"the source left as a copy",
         [](const std::wstring& from, const std::wstring& to) { CopyFileW(to.c_str(), from.c_str(), TRUE); },
         nullptr},
        {"the source left as a copy, the placed file written to since",
         [&](const std::wstring& from, const std::wstring& to) {
             CopyFileW(to.c_str(), from.c_str(), TRUE);
             (void)AppendTextToFile(destination, "+new");
         },
         "data+new"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(source, "data");
        testing_support::SetAfterMoveReported(c.leave);
        EXPECT_FALSE(MoveNoOverwrite(source, destination));
        testing_support::SetAfterMoveReported(nullptr);
        EXPECT_EQ(ReadBytes(source), "data");
        EXPECT_EQ(Exists(destination), c.placed != nullptr);
        if (c.placed) {
            EXPECT_EQ(ReadBytes(destination), c.placed);
        }
        DeleteFileW(Wide(destination).c_str());
    }
}

// ---------------------------------------------------------------- copy

TEST(Win32Copy, RefusesToCopyAFileOntoItselfUnderAnotherName) {
    TempFolder temp;
    const ByteString file = temp.Join("same.txt");
    const ByteString link = temp.Join("link.txt");
    WriteBytes(file, "precious");
    ASSERT_TRUE(CreateHardLinkW(Wide(link).c_str(), Wide(file).c_str(), nullptr));
    for (const ByteString& other : {temp.Path() + "/SAME.TXT", temp.Path() + "\\.\\same.txt", link})
        EXPECT_FALSE(CopyOverwrite(file, other)) << other;
    EXPECT_EQ(ReadBytes(file), "precious");
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"link.txt", "same.txt"}));
}

TEST(Win32Copy, ReplacesTheDestinationWithTheSourcesTimeOrNotAtAll) {
    TempFolder temp;
    const ByteString source = temp.Join("source.bin");
    const ByteString destination = temp.Join("destination.bin");
    const std::string content(300000, 's');
    WriteBytes(source, content);
    WriteBytes(destination, "old");
    SetWriteTime(source, kIn1994);
    {
        ShortWritesAfter diskFullAfter(100000);
        EXPECT_FALSE(CopyOverwrite(source, destination));
    }
    EXPECT_EQ(ReadBytes(destination), "old");
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"destination.bin", "source.bin"}));

    EXPECT_TRUE(CopyOverwrite(source, destination));
    EXPECT_EQ(ReadBytes(destination), content);
    const FILETIME written = AttributesOf(destination).ftLastWriteTime;
    EXPECT_EQ(written.dwHighDateTime, kIn1994.dwHighDateTime);
    EXPECT_EQ(written.dwLowDateTime / 10000000, kIn1994.dwLowDateTime / 10000000);
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"destination.bin", "source.bin"}));
}

// ---------------------------------------------------------------- writes

// Files are opened for exclusive use: a write that throws must still close
// the file, or it would stay locked until the program ends.
TEST(Win32Write, FileIsClosedAfterAShortWrite) {
    TempFolder temp;
    const ByteString log = temp.Join("change.log");
    const ByteString settings = temp.Join("Morvandel.sav");
    WriteBytes(log, "first\r\n");
    WriteBytes(settings, "old settings");
    {
        ShortWritesAfter diskFullAfter(3);
        EXPECT_THROW((void)AppendTextToFile(log, "second line\r\n"), FileError);
    }
    EXPECT_EQ(ReadTextFile(log), "first\r\nsec");  // what the disk took stays
    {
        ShortWritesAfter diskFullAfter(70000);  // past the first block
        EXPECT_THROW((void)WriteTextFileSafely(settings, ByteString(100000, 'x')), FileError);
    }
    EXPECT_EQ(ReadTextFile(settings), "old settings");
    EXPECT_TRUE(WriteTextFileSafely(settings, "new settings"));
    EXPECT_EQ(ReadBytes(settings), "new settings");
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"Morvandel.sav", "change.log"}));
}

TEST(Win32Write, RewritingAReadOnlyFileRemovesOnlyTheReadOnlyMark) {
    TempFolder temp;
    const ByteString file = temp.Join("file.txt");
    const std::wstring native = Wide(file);
    WriteBytes(file, "old");
    for (const auto write : {&WriteTextFile, &WriteTextFileSafely}) {
        ASSERT_TRUE(SetFileAttributesW(native.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
        const ByteString text = write == &WriteTextFile ? "plain" : "safely";
        EXPECT_EQ(write(file, text), 1);
        EXPECT_EQ(ReadBytes(file), text);
        const DWORD attributes = GetFileAttributesW(native.c_str());
        EXPECT_FALSE(attributes & FILE_ATTRIBUTE_READONLY) << text;
        EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN) << text;
    }
    EXPECT_EQ(NamesIn(temp.Path()), std::vector<ByteString>{"file.txt"});
}

TEST(Win32Write, FileHeldByAnotherProgramIsNeitherReadNorWritten) {
    TempFolder temp;
    const ByteString file = temp.Join("held.txt");
    WriteBytes(file, "old");
    HANDLE held = CreateFileW(Wide(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadTextFile(file), "");
    EXPECT_FALSE(AppendTextToFile(file, "x"));
    EXPECT_FALSE(WriteTextFileSafely(file, "new"));
    CloseHandle(held);
    EXPECT_EQ(ReadBytes(file), "old");
    EXPECT_EQ(NamesIn(temp.Path()), std::vector<ByteString>{"held.txt"});
}

// A backup tool or a viewer that merely has the settings or a log open, as
// readers do (sharing reading and writing), must not make the settings fall
// back to their defaults, nor lose log lines.
TEST(Win32Write, SettingsAndLogsAreReadAndAppendedWhileOthersReadThem) {
    TempFolder temp;
    const ByteString file = temp.Join("Morvandel.sav");
    WriteBytes(file, "m_nMode=0\r\n");
    HANDLE reader = CreateFileW(Wide(file).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadTextFile(file), "m_nMode=0\r\n");
    EXPECT_TRUE(AppendTextToFile(file, "line\r\n"));
    CloseHandle(reader);
    EXPECT_EQ(ReadBytes(file), "m_nMode=0\r\nline\r\n");
}

// ---------------------------------------------------------------- kinds

// Only name surrogates are links: a folder or file kept by a cloud-sync
// client, or deduplicated, is walked and moved like any other.
TEST(Win32Kinds, OnlyNameSurrogateReparsePointsAreLinks) {
    constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    constexpr DWORD kFile = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT;
    constexpr DWORD kCloud = 0x9000601AL;  // a cloud-files placeholder
    constexpr DWORD kDedup = 0x80000013L;
    EXPECT_EQ(fs_win32::KindOfListedEntry(kFolder, IO_REPARSE_TAG_MOUNT_POINT), EntryKind::FolderLink);
    EXPECT_EQ(fs_win32::KindOfListedEntry(kFolder, IO_REPARSE_TAG_SYMLINK), EntryKind::FolderLink);
    EXPECT_EQ(fs_win32::KindOfListedEntry(kFolder, kCloud), EntryKind::Folder);
    EXPECT_EQ(fs_win32::KindOfListedEntry(kFile, kCloud), EntryKind::File);
    EXPECT_EQ(fs_win32::KindOfListedEntry(kFile, kDedup), EntryKind::File);
    EXPECT_EQ(fs_win32::CauseOfError(1295 /* ERROR_DISK_QUOTA_EXCEEDED */), FileErrorCause::DiskFull);
}


TEST(Win32Kinds, FolderLinkIsNeverTakenForAFolder) {
    TempFolder temp;
    const ByteString target = temp.Join("target");
    const ByteString link = temp.Join("link");
    ASSERT_TRUE(CreateFolder(target));
    CreateSymbolicLinkW(Wide(link).c_str(), Wide(target).c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    if (GetFileAttributesW(Wide(link).c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "this system makes no symbolic links (Wine 8 reports success and makes none)";
    EXPECT_EQ(KindOf(link), EntryKind::FolderLink);
    EXPECT_EQ(DescribedListing(temp.Path()), (std::vector<std::string>{"link FolderLink", "target Folder"}));
}

// ---------------------------------------------------------------- held folders

// A folder held open by the walk cannot be renamed or removed by anyone.
TEST(Win32HeldFolders, AHeldFolderCannotBeRenamedOrRemoved) {
    TempFolder temp;
    MakeFolder(temp.Join("held"));
    MakeFolder(temp.Join("held\\child"));
    const OpenFolder held = OpenFolder::Open(temp.Join("held"));
    ASSERT_TRUE(held.IsOpen());
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(held.List(entries));
    ASSERT_EQ(entries.size(), 1u);
    const OpenFolder child = held.OpenChild(entries[0]);
    ASSERT_TRUE(child.IsOpen());
    for (const char* folder : {"held\\child", "held"}) {
        SCOPED_TRACE(folder);
        EXPECT_FALSE(MoveFileW(Wide(temp.Join(folder)).c_str(), Wide(temp.Join("renamed")).c_str()));
    }
    EXPECT_FALSE(RemoveDirectoryW(Wide(temp.Join("held\\child")).c_str()));
    EXPECT_EQ(NamesIn(temp.Path()), std::vector<ByteString>{"held"});
    EXPECT_EQ(NamesIn(temp.Join("held")), std::vector<ByteString>{"child"});
}

// The folder above a held one renamed (where the system allows it) and
// another folder put in its place: the held folder's path now leads to
// another folder, and nothing is done through it, by any member.
TEST(Win32HeldFolders, EveryUseOfAHeldFolderChecksThatItsPathStillLeadsToIt) {
    TempFolder temp;
    const ByteString folder = temp.Join("p\\x");
    const ByteString other = temp.Join("q");
    MakeFolder(temp.Join("p"));
    MakeFolder(folder);
    MakeFolder(other);
    WriteBytes(folder + "\\f", "mine");
    WriteBytes(other + "\\g", "other");
    const OpenFolder held = OpenFolder::Open(folder);
    const OpenFolder elsewhere = OpenFolder::Open(other);
    ASSERT_TRUE(held.IsOpen() && elsewhere.IsOpen());
    if (!MoveFileW(Wide(temp.Join("p")).c_str(), Wide(temp.Join("p.old")).c_str()))
        GTEST_SKIP() << "the folder above a held one cannot be renamed here";
    MakeFolder(temp.Join("p"));
    MakeFolder(folder);
    WriteBytes(folder + "\\f", "theirs");
    const ByteString into = temp.Join("into");

    const struct {
        const char* member;
        std::function<bool()> acts;  // true when it did something
    } members[] = {
        {"StampOf", [&] { return held.StampOf("f").has_value(); }},
        {"FileSizeOf", [&] { return held.FileSizeOf("f").has_value(); }},
        {"CreateFolder", [&] { return held.CreateFolder("new"); }},
        {"MoveNoOverwrite to a path", [&] { return held.MoveNoOverwrite("f", into); }},
        {"MoveNoOverwrite into a folder", [&] { return held.MoveNoOverwrite("f", elsewhere, "f"); }},
        {"MoveNoOverwrite into this folder", [&] { return elsewhere.MoveNoOverwrite("g", held, "g"); }},
        {"CopyOverwrite", [&] { return held.CopyOverwrite("f", into); }},
        {"RemoveFile", [&] { return held.RemoveFile("f"); }},
    };
    for (const auto& m : members) {
        SCOPED_TRACE(m.member);
        EXPECT_FALSE(m.acts());
    }
    EXPECT_EQ(NamesIn(folder), std::vector<ByteString>{"f"});
    EXPECT_EQ(ReadBytes(folder + "\\f"), "theirs");
    EXPECT_EQ(NamesIn(other), std::vector<ByteString>{"g"});
    EXPECT_FALSE(Exists(into));
}

// ---------------------------------------------------------------- program

TEST(Win32Program, ExecutablePathAndProgramDirNameThisTestProgram) {
    const ByteString exe = ExecutablePath();
    ASSERT_GT(exe.size(), 4u);
    EXPECT_EQ(exe.substr(exe.size() - 4), ".exe");
    EXPECT_EQ(KindOf(exe), EntryKind::File);
    const ByteString dir = ProgramDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '\\');
    EXPECT_EQ(exe.compare(0, dir.size(), dir), 0);
    EXPECT_EQ(exe.find('\\', dir.size()), ByteString::npos);
    EXPECT_EQ(ProgramDirNoSlash(), dir.substr(0, dir.size() - 1));
    EXPECT_EQ(KindOf(ProgramDirNoSlash()), EntryKind::Folder);
}

}  // namespace
