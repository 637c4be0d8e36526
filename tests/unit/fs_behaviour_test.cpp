// What the file layer must do on every platform.
#include <gtest/gtest.h>

#include <filesystem>

#include "fs/fs.h"
#include "text/encoding.h"
#include "support/fs_helpers.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const ByteString& Hyou() {  // 表: its second byte is 0x5C, a separator byte
    static const ByteString text = Cp932(u8"表");
    return text;
}

bool OwnerCanWrite(const ByteString& path) {
    const auto perms = std::filesystem::status(NativePath(path)).permissions();
    return (perms & std::filesystem::perms::owner_write) != std::filesystem::perms::none;
}

void MakeReadOnly(const ByteString& path) {
    std::filesystem::permissions(NativePath(path),
                                 std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
}

}  // namespace

TEST(FsConversion, APathWithoutAnExactNativeFormTouchesNothing) {
    TempFolder temp;
    const ByteString file = temp.Join("a");
    WriteBytes(file, "x");
    // A NUL would cut the path short at "a"; a lone lead byte has no form.
    const ByteString withNul = file + ByteString(1, '\0') + "b";
    const ByteString leadByte = temp.Join("b\x81");
    EXPECT_FALSE(FileExists(withNul));
    EXPECT_EQ(KindOf(withNul), EntryKind::Missing);
    EXPECT_FALSE(RemoveFile(withNul));
    EXPECT_FALSE(WriteTextFile(withNul, "new"));
    EXPECT_FALSE(AppendTextToFile(withNul, "new"));
    EXPECT_FALSE(CreateFolder(leadByte));
    EXPECT_FALSE(WriteTextFile(leadByte, "new"));
    EXPECT_FALSE(MoveNoOverwrite(file, leadByte));
    EXPECT_FALSE(CopyOverwrite(file, leadByte));
    EXPECT_EQ(ReadBytes(file), "x");
    EXPECT_EQ(NamesIn(temp.Path()), std::vector<ByteString>{"a"});
}

TEST(FsMove, MovesOnlyAFileAndOnlyToAFreeName) {
    TempFolder temp;
    const ByteString source = temp.Join(Hyou() + ".txt");
    WriteBytes(source, "new");
    WriteBytes(temp.Join("taken"), "old");
    MakeFolder(temp.Join("folder"));

    EXPECT_FALSE(MoveNoOverwrite(source, temp.Join("taken")));
    EXPECT_FALSE(MoveNoOverwrite(source, temp.Join("folder")));
    EXPECT_FALSE(MoveNoOverwrite(temp.Join("folder"), temp.Join("folder2"))) << "folders are walked, not moved";
    EXPECT_FALSE(MoveNoOverwrite(temp.Join("missing"), temp.Join("elsewhere")));
    EXPECT_EQ(ReadBytes(temp.Join("taken")), "old");
    EXPECT_TRUE(NamesIn(temp.Join("folder")).empty());
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"folder", "taken", Hyou() + ".txt"}));

    EXPECT_TRUE(MoveNoOverwrite(source, temp.Join("moved " + Hyou())));
    EXPECT_EQ(ReadBytes(temp.Join("moved " + Hyou())), "new");
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"folder", "moved " + Hyou(), "taken"}));
}

TEST(FsCopy, ReplacesTheDestinationUnlessItIsTheSourceOrReadOnly) {
    TempFolder temp;
    const ByteString source = temp.Join("a");
    const ByteString destination = temp.Join("b");
    const ByteString locked = temp.Join("locked");
    const std::string content = std::string(5000, 'x') + '\0' + "tail";
    WriteBytes(source, content);
    WriteBytes(destination, "old and longer than nothing");
    WriteBytes(locked, "locked content");
    MakeReadOnly(locked);

    EXPECT_TRUE(CopyOverwrite(source, destination));
    EXPECT_FALSE(CopyOverwrite(temp.Join("missing"), destination));
    EXPECT_FALSE(CopyOverwrite(source, source));
    EXPECT_FALSE(CopyOverwrite(source, locked));
    EXPECT_EQ(ReadBytes(source), content);
    EXPECT_EQ(ReadBytes(destination), content);
    EXPECT_EQ(ReadBytes(locked), "locked content");
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"a", "b", "locked"})) << "no temporary file left behind";
}

TEST(FsRemove, RemovesWritableFilesAndOnlyEmptyFolders) {
    TempFolder temp;
    const ByteString file = temp.Join("f");
    const ByteString folder = temp.Join("d");
    const ByteString inside = folder + kPathSeparator + "inside";
    const ByteString locked = temp.Join("locked");
    WriteBytes(file, "x");
    MakeFolder(folder);
    WriteBytes(locked, "x");
    MakeReadOnly(locked);

    EXPECT_FALSE(RemoveFile(folder));
    EXPECT_FALSE(RemoveFile(locked)) << "a read-only file is not deleted";
    EXPECT_EQ(ReadBytes(locked), "x");
    EXPECT_TRUE(RemoveFile(file));
    EXPECT_FALSE(Exists(file));
    EXPECT_FALSE(RemoveFile(file));

    WriteBytes(inside, "x");
    EXPECT_FALSE(RemoveFolder(folder));
    EXPECT_TRUE(RemoveFile(inside));
    EXPECT_TRUE(RemoveFolder(folder));
    EXPECT_FALSE(Exists(folder));
}

TEST(FsFolders, ChainCreatesEveryMissingFolderAndNothingElse) {
    TempFolder temp;
    const ByteString deep = temp.Join(Hyou()) + kPathSeparator + "sub" + kPathSeparator + "leaf";
    CreateFolderChain(deep + kPathSeparator);
    EXPECT_EQ(KindOf(deep), EntryKind::Folder);
    // The attempt for the prefix that ends inside 表 (cut before its 0x5C
    // byte) must not have created anything.
    EXPECT_EQ(NamesIn(temp.Path()), std::vector<ByteString>{Hyou()});

    CreateFolderChain(deep);
    EXPECT_EQ(KindOf(deep), EntryKind::Folder) << "existing folders are fine";
    EXPECT_FALSE(CreateFolder(deep));
}

TEST(FsQueries, KindsExistenceSizesAndIdentities) {
    TempFolder temp;
    const ByteString file = temp.Join("file");
    const ByteString empty = temp.Join("empty");
    WriteBytes(file, std::string(1234, 'z'));
    WriteBytes(empty, "");

    struct Row {
        ByteString path;
        EntryKind kind;
        int exists;
        std::optional<int64_t> size;
    };
    for (const Row& row : {Row{file, EntryKind::File, 1, 1234}, Row{empty, EntryKind::File, 1, 0},
                           Row{temp.Path(), EntryKind::Folder, 1, std::nullopt},
                           Row{temp.Join("missing"), EntryKind::Missing, 0, std::nullopt}}) {
        EXPECT_EQ(KindOf(row.path), row.kind) << row.path;
        EXPECT_EQ(FileExists(row.path), row.exists) << row.path;
        EXPECT_EQ(FileSizeOf(row.path), row.size) << row.path;
    }

    ASSERT_TRUE(FileIdOf(file).has_value());
    EXPECT_EQ(FileIdOf(file), FileIdOf(temp.Path() + kPathSeparator + "." + kPathSeparator + "file"));
    EXPECT_NE(FileIdOf(file), FileIdOf(empty));
    EXPECT_EQ(FileIdOf(temp.Join("missing")), std::nullopt);
}

TEST(FsQueries, ListingGivesEveryEntryWithItsKind) {
    TempFolder temp;
    EXPECT_EQ(FolderIsEmpty(temp.Path()), true);
    WriteBytes(temp.Join(Hyou() + ".txt"), "x");
    MakeFolder(temp.Join("sub"));
    EXPECT_EQ(FolderIsEmpty(temp.Path()), false);
    EXPECT_EQ(FolderIsEmpty(temp.Join("missing")), std::nullopt);

    std::vector<FolderEntry> entries{FolderEntry{"stale", true, EntryKind::File}};
    ASSERT_TRUE(ListFolder(temp.Path(), entries));
    EXPECT_EQ(entries.size(), 2u) << "the listing replaces what the vector held";
    EXPECT_EQ(DescribedListing(temp.Path()), (std::vector<std::string>{"sub Folder", Hyou() + ".txt File"}));
    EXPECT_FALSE(ListFolder(temp.Join("missing"), entries));
}

TEST(FsWholeFiles, WriteAndReadKeepEveryByte) {
    TempFolder temp;
    const ByteString path = temp.Join("data");
    for (const size_t size : {size_t{0}, size_t{1}, size_t{1023}, size_t{1024}, size_t{1025}, size_t{5000}}) {
        ByteString text;
        for (size_t i = 0; i < size; ++i) text += static_cast<char>((i * 7) % 256);
        ASSERT_TRUE(WriteTextFile(path, text));
        EXPECT_EQ(ReadTextFile(path), text) << size;
        EXPECT_EQ(ReadBytes(path), text) << size;
    }
    ASSERT_TRUE(WriteTextFile(path, "a\r\nb\r\n"));
    EXPECT_EQ(ReadTextFile(path), "a\r\nb\r\n");
    EXPECT_EQ(ReadTextFile(temp.Join("missing")), "");
}

TEST(FsWholeFiles, BothWritesCreateAndReplaceAReadOnlyFileAndLeaveNothingElse) {
    struct Writer {
        const char* name;
        bool (*write)(const ByteString&, const ByteString&);
    };
    for (const Writer& writer : {Writer{"plain", &WriteTextFile}, Writer{"safe", &WriteTextFileSafely}}) {
        SCOPED_TRACE(writer.name);
        TempFolder temp;
        const ByteString path = temp.Join("settings");
        ASSERT_EQ(writer.write(path, "first"), 1);
        EXPECT_EQ(ReadBytes(path), "first");

        WriteBytes(path, "old content that is longer");
        MakeReadOnly(path);
        ASSERT_FALSE(OwnerCanWrite(path));
        EXPECT_EQ(writer.write(path, "new"), 1);
        EXPECT_EQ(ReadBytes(path), "new");
        EXPECT_TRUE(OwnerCanWrite(path)) << "the read-only mark is cleared";

        EXPECT_EQ(writer.write(temp.Join("missing") + kPathSeparator + "x", "t"), 0);
        EXPECT_EQ(NamesIn(temp.Path()), std::vector<ByteString>{"settings"});
    }
}

TEST(FsWholeFiles, AppendAddsAtTheEndAndRefusesReadOnlyFiles) {
    TempFolder temp;
    const ByteString log = temp.Join("change.log");
    EXPECT_TRUE(AppendTextToFile(log, ""));
    EXPECT_EQ(ReadBytes(log), "") << "an empty append still creates the file";

    const std::string big(200000, 'b');
    EXPECT_TRUE(AppendTextToFile(log, "a\r\n"));
    EXPECT_TRUE(AppendTextToFile(log, big));
    EXPECT_TRUE(AppendTextToFile(log, ""));
    EXPECT_EQ(ReadBytes(log), "a\r\n" + big);

    const ByteString locked = temp.Join("error.log");
    WriteBytes(locked, "kept");
    MakeReadOnly(locked);
    EXPECT_FALSE(AppendTextToFile(locked, "more"));
    EXPECT_EQ(ReadBytes(locked), "kept");
}

TEST(FsWholeFiles, AShortWriteIsAFullDisk) {
    TempFolder temp;
    const ByteString path = temp.Join("target");
    WriteBytes(path, "previous");
    try {
        ShortWritesAfter seam(10);
        (void)AppendTextToFile(path, std::string(100, 'x'));
        FAIL() << "a short append must throw";
    } catch (const FileError& error) {
        EXPECT_EQ(error.cause(), FileErrorCause::DiskFull);
        EXPECT_EQ(error.step(), FileStep::Write);
        EXPECT_EQ(error.path(), path);
    }
    {
        ShortWritesAfter seam(1500);
        EXPECT_THROW((void)WriteTextFile(path, std::string(3000, 'y')), FileError);
    }
    const std::string afterPlainWrite = ReadBytes(path);
    EXPECT_LT(afterPlainWrite.size(), 3000u);
    {
        ShortWritesAfter seam(100);
        EXPECT_THROW((void)WriteTextFileSafely(path, std::string(3000, 'z')), FileError);
    }
    EXPECT_EQ(ReadBytes(path), afterPlainWrite) << "a failed safe write must leave the old file as it was";
    EXPECT_EQ(NamesIn(temp.Path()), std::vector<ByteString>{"target"}) << "the safe write left its temporary file";
}

TEST(FsLongPaths, PathsBeyond260BytesWorkAsGiven) {
    TempFolder temp;
    ByteString folder = temp.Path();
    std::vector<ByteString> folders;
    for (int depth = 0; depth < 6; ++depth) {
        folder += kPathSeparator + ByteString(50, static_cast<char>('a' + depth)) + Hyou();
        folders.push_back(folder);
    }
    ASSERT_GT(folder.size(), 300u);
    CreateFolderChain(folder);
    ASSERT_EQ(KindOf(folder), EntryKind::Folder);

    const ByteString file = folder + kPathSeparator + "settings.sav";
    const ByteString moved = folder + kPathSeparator + "moved.sav";
    const ByteString copied = folder + kPathSeparator + "copied.sav";
    ASSERT_TRUE(WriteTextFile(file, "abc"));
    EXPECT_TRUE(WriteTextFileSafely(file, "abcd"));
    EXPECT_TRUE(AppendTextToFile(file, "e"));
    EXPECT_EQ(ReadTextFile(file), "abcde");
    EXPECT_EQ(FileSizeOf(file), std::optional<int64_t>(5));
    EXPECT_TRUE(MoveNoOverwrite(file, moved));
    EXPECT_TRUE(CopyOverwrite(moved, copied));
    EXPECT_EQ(DescribedListing(folder), (std::vector<std::string>{"copied.sav File", "moved.sav File"}));

    // Cleaned up through the same layer, deepest first.
    EXPECT_TRUE(RemoveFile(moved));
    EXPECT_TRUE(RemoveFile(copied));
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) EXPECT_TRUE(RemoveFolder(*it));
    EXPECT_EQ(FolderIsEmpty(temp.Path()), true);
}
