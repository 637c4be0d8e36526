// The Windows file layer: strict code page 932 conversion, names and paths
// beyond the classic rules and limits, moves across volumes, the copy's
// refusals, the write seam, the executable's path and dates beyond the
// runtime's range.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <optional>

#include "fs/fs.h"
#include "fs/text_win32.h"
#include "support/test_support.h"

namespace {

using testing_support::NamesIn;
using testing_support::ReadBytes;
using testing_support::TempFolder;
using testing_support::WriteBytes;

std::vector<ByteString> ListedNames(const ByteString& folder) {
    std::vector<FolderEntry> entries;
    EXPECT_TRUE(ListFolder(folder, entries));
    std::vector<ByteString> names;
    for (const auto& entry : entries) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring Wide(const ByteString& path) {
    std::wstring wide;
    EXPECT_TRUE(Cp932ToWide(path, wide));
    return wide;
}

// ---------------------------------------------------------------- conversions

// Window texts and dropped paths arrive as UTF-16, which may hold what no
// code page 932 text can come from.
TEST(Win32Text, OnlyExactRoundTripsConvert) {
    std::wstring wide;
    ByteString back;
    EXPECT_FALSE(WideToCp932(L"\xd800", back));  // a lone surrogate
    EXPECT_FALSE(Cp932ToWide("a\x81", wide));     // a lead byte without its trail
    // An IBM extension duplicate: it decodes, but encodes back as FA 5C, so a
    // path holding it would not name itself.
    EXPECT_FALSE(Cp932ToWide("\xed\x40", wide));
    ASSERT_TRUE(Cp932ToWide("\xfa\x5c", wide));
    EXPECT_EQ(wide, L"\u7e8a");
}

// ---------------------------------------------------------------- names

TEST(Win32Names, NameWithoutCp932FormIsListedAsNotConvertible) {
    TempFolder temp;
    const std::wstring native = Wide(temp.Path()) + L"\\caf\u00e9.txt";
    HANDLE file = CreateFileW(native.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    WriteBytes(temp.Join("\x95\x5c.txt"), "");

    std::vector<FolderEntry> entries;
    ASSERT_TRUE(ListFolder(temp.Path(), entries));
    ASSERT_EQ(entries.size(), 2u);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    EXPECT_EQ(entries[0].name, "caf?.txt");
    EXPECT_FALSE(entries[0].convertible);
    EXPECT_EQ(entries[1].name, "\x95\x5c.txt");
    EXPECT_TRUE(entries[1].convertible);
    // The "?" form names no file: nothing may be done to another in its place.
    EXPECT_EQ(FileExists(temp.Join("caf?.txt")), 0);
    EXPECT_EQ(RemoveFile(temp.Join("caf?.txt")), 0);
}

// Names that only "\\?\" paths (or another system) can make: a Win32 path
// would trim the dot or blank and reach "report" instead, or read CON as the
// console.
TEST(Win32Names, EntriesThatWin32PathsCannotReachAreNotUsable) {
    TempFolder temp;
    WriteBytes(temp.Join("report"), "another file");
    const std::wstring verbatim = L"\\\\?\\" + Wide(temp.Path()) + L"\\";
    const std::vector<std::wstring> unreachable{L"report.", L"report ", L"CON"};
    for (const std::wstring& name : unreachable) {
        HANDLE file = CreateFileW((verbatim + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(ListFolder(temp.Path(), entries));
    EXPECT_EQ(entries.size(), 4u);
    for (const auto& entry : entries) EXPECT_EQ(entry.convertible, entry.name == "report") << entry.name;
    for (const std::wstring& name : unreachable) DeleteFileW((verbatim + name).c_str());
}

TEST(Win32Names, DriveRootAndTrailingSeparatorExist) {
    TempFolder temp;
    EXPECT_EQ(FileExists("C:\\"), 1);
    EXPECT_EQ(FileExists(temp.Path() + "\\"), 1);
    EXPECT_EQ(FileExists(temp.Join("*")), 0);  // a pattern is no name
    EXPECT_EQ(FileExists(temp.Join("missing")), 0);
}

// ---------------------------------------------------------------- long paths

// A folder path of about 320 characters inside the temporary folder.
ByteString LongFolderIn(const TempFolder& temp) {
    ByteString path = temp.Path();
    for (int i = 0; i < 5; ++i) path += "\\" + ByteString(60, static_cast<char>('a' + i));
    return path;
}

TEST(Win32LongPath, ForwardSlashesAndDotsAreResolvedAsForAShortPath) {
    TempFolder temp;
    const ByteString folder = LongFolderIn(temp);
    CreateFolderChain(folder);
    ByteString slashed = folder;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    EXPECT_EQ(WriteTextFile(slashed + "/x/../f.txt", "via slashes"), 1);
    EXPECT_EQ(ReadTextFile(folder + "\\f.txt"), "via slashes");
}

// A last name ending in "." or a blank is trimmed by Windows; a long path
// must not create a file that a short path (or Explorer) cannot reach.
TEST(Win32LongPath, TrailingDotsAndBlanksAreTrimmedAsForAShortPath) {
    TempFolder temp;
    const ByteString shortFolder = temp.Join("short");
    const ByteString longFolder = LongFolderIn(temp);
    CreateFolderChain(shortFolder);
    CreateFolderChain(longFolder);
    for (const ByteString& folder : {shortFolder, longFolder}) {
        EXPECT_EQ(WriteTextFile(folder + "\\file.", "dot"), 1);
        EXPECT_EQ(AppendTextToFile(folder + "\\file ", "+blank"), 1);
        EXPECT_EQ(CreateFolder(folder + "\\sub. "), 1);
        EXPECT_EQ(CopyOverwrite(folder + "\\file", folder + "\\copy."), 1);
    }
    const std::vector<ByteString> expected{"copy", "file", "sub"};
    EXPECT_EQ(ListedNames(shortFolder), expected);
    EXPECT_EQ(ListedNames(longFolder), expected);
    EXPECT_EQ(ReadTextFile(longFolder + "\\file"), "dot+blank");
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
    void TearDown() override { SetShortWriteAfterForTesting(-1); }

    TempFolder temp;
    std::optional<TempFolder> other;
};

TEST_F(Win32MoveAcrossVolumes, MovesAReadOnlyFileWithItsTimeAndMarks) {
    const ByteString source = temp.Join("report.txt");
    const std::string content(300000, 'r');
    WriteBytes(source, content);
    const FILETIME past{0x12345600, 0x01c00000};
    {
        HANDLE file = CreateFileW(Wide(source).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &past));
        CloseHandle(file);
    }
    ASSERT_TRUE(SetFileAttributesW(Wide(source).c_str(), FILE_ATTRIBUTE_READONLY));

    const ByteString destination = other->Join("moved.txt");
    ASSERT_EQ(MoveNoOverwrite(source, destination), 1);
    EXPECT_EQ(NamesIn(temp.Path()), std::vector<ByteString>{});
    EXPECT_EQ(NamesIn(other->Path()), std::vector<ByteString>{"moved.txt"});
    EXPECT_EQ(ReadBytes(destination), content);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(Wide(destination).c_str(), GetFileExInfoStandard, &data));
    EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, past.dwHighDateTime);
}

TEST_F(Win32MoveAcrossVolumes, ASourceThatCannotBeDeletedIsNotDuplicated) {
    const ByteString source = temp.Join("held.txt");
    WriteBytes(source, "only once");
    // Readers allowed, deleting not.
    HANDLE held = CreateFileW(Wide(source).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const int moved = MoveNoOverwrite(source, other->Join("held.txt"));
    CloseHandle(held);
    EXPECT_EQ(moved, 0);
    EXPECT_EQ(ReadBytes(source), "only once");
    EXPECT_EQ(NamesIn(other->Path()), std::vector<ByteString>{});
}

TEST_F(Win32MoveAcrossVolumes, ACopyThatBreaksOffLeavesTheSourceAndNoRemains) {
    const ByteString source = temp.Join("big.bin");
    WriteBytes(source, std::string(100000, 's'));
    SetShortWriteAfterForTesting(5000);
    EXPECT_EQ(MoveNoOverwrite(source, other->Join("big.bin")), 0);
    SetShortWriteAfterForTesting(-1);
    EXPECT_EQ(ReadBytes(source), std::string(100000, 's'));
    EXPECT_EQ(NamesIn(other->Path()), std::vector<ByteString>{});
}

// ---------------------------------------------------------------- copy

TEST(Win32Copy, RefusesToCopyAFileOntoItselfUnderAnyName) {
    TempFolder temp;
    const ByteString file = temp.Join("same.txt");
    const ByteString link = temp.Join("link.txt");
    WriteBytes(file, "precious");
    ASSERT_TRUE(CreateHardLinkW(Wide(link).c_str(), Wide(file).c_str(), nullptr));
    EXPECT_EQ(CopyOverwrite(file, file), 0);
    EXPECT_EQ(CopyOverwrite(file, temp.Path() + "/SAME.TXT"), 0);  // other spelling, same file
    EXPECT_EQ(CopyOverwrite(file, temp.Path() + "\\.\\same.txt"), 0);
    EXPECT_EQ(CopyOverwrite(file, link), 0);
    EXPECT_EQ(ReadBytes(file), "precious");
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"link.txt", "same.txt"}));
}

TEST(Win32Copy, ReplacesTheDestinationKeepingTimeAndLeavingNoTemporaryFile) {
    TempFolder temp;
    const ByteString source = temp.Join("source.txt");
    const ByteString destination = temp.Join("destination.txt");
    WriteBytes(source, "new content");
    WriteBytes(destination, "old");
    const FILETIME past{0x12345600, 0x01c00000};  // some day in 1994
    {
        HANDLE file = CreateFileW(Wide(source).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &past));
        CloseHandle(file);
    }
    EXPECT_EQ(CopyOverwrite(source, destination), 1);
    EXPECT_EQ(ReadBytes(destination), "new content");
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(Wide(destination).c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, past.dwHighDateTime);
    EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime / 10000000, past.dwLowDateTime / 10000000);
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"destination.txt", "source.txt"}));
}

TEST(Win32Copy, CopyThatBreaksOffPartWayKeepsTheOldDestination) {
    TempFolder temp;
    const ByteString source = temp.Join("source.bin");
    const ByteString destination = temp.Join("destination.bin");
    WriteBytes(source, std::string(300000, 's'));
    WriteBytes(destination, "old");
    SetShortWriteAfterForTesting(100000);
    EXPECT_EQ(CopyOverwrite(source, destination), 0);
    SetShortWriteAfterForTesting(-1);
    EXPECT_EQ(ReadBytes(destination), "old");
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"destination.bin", "source.bin"}));
    EXPECT_EQ(CopyOverwrite(source, destination), 1);  // the seam is all that stopped it
}

// ---------------------------------------------------------------- writes

class Win32Write : public ::testing::Test {
protected:
    void TearDown() override { SetShortWriteAfterForTesting(-1); }
    TempFolder temp;
};

// Files are opened for exclusive use: a write that throws must still close
// the file, or it would stay locked until the program ends.
TEST_F(Win32Write, FileIsClosedAfterAShortWrite) {
    const ByteString log = temp.Join("change.log");
    WriteBytes(log, "first\r\n");
    SetShortWriteAfterForTesting(3);
    EXPECT_THROW(AppendTextToFile(log, "second line\r\n"), FileError);
    SetShortWriteAfterForTesting(-1);
    EXPECT_EQ(ReadTextFile(log), "first\r\nsec");  // what the disk took stays

    const ByteString settings = temp.Join("Morvandel.sav");
    WriteBytes(settings, "old settings");
    SetShortWriteAfterForTesting(70000);  // past the first block
    EXPECT_THROW(WriteTextFileSafely(settings, ByteString(100000, 'x')), FileError);
    SetShortWriteAfterForTesting(-1);
    EXPECT_EQ(ReadTextFile(settings), "old settings");
    EXPECT_EQ(WriteTextFileSafely(settings, "new settings"), 1);
    EXPECT_EQ(ReadBytes(settings), "new settings");
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"Morvandel.sav", "change.log"}));
}

TEST_F(Win32Write, RewritingAReadOnlyFileRemovesOnlyTheReadOnlyMark) {
    const ByteString file = temp.Join("file.txt");
    WriteBytes(file, "old");
    const std::wstring native = Wide(file);
    ASSERT_TRUE(SetFileAttributesW(native.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

    EXPECT_EQ(WriteTextFile(file, "rewritten"), 1);
    EXPECT_EQ(ReadBytes(file), "rewritten");
    DWORD attributes = GetFileAttributesW(native.c_str());
    EXPECT_FALSE(attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);  // only the read-only mark goes

    ASSERT_TRUE(SetFileAttributesW(native.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(WriteTextFileSafely(file, "safely"), 1);
    EXPECT_EQ(ReadBytes(file), "safely");
    attributes = GetFileAttributesW(native.c_str());
    EXPECT_FALSE(attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(NamesIn(temp.Path()), std::vector<ByteString>{"file.txt"});
}

TEST_F(Win32Write, FileHeldByAnotherProgramIsNeitherReadNorWritten) {
    const ByteString file = temp.Join("held.txt");
    WriteBytes(file, "old");
    HANDLE held = CreateFileW(Wide(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadTextFile(file), "");
    EXPECT_EQ(AppendTextToFile(file, "x"), 0);
    EXPECT_EQ(WriteTextFileSafely(file, "new"), 0);
    CloseHandle(held);
    EXPECT_EQ(ReadBytes(file), "old");
    EXPECT_EQ(NamesIn(temp.Path()), std::vector<ByteString>{"held.txt"});
}

// ---------------------------------------------------------------- kinds

TEST(Win32Kinds, FolderLinkIsNeverTakenForAFolder) {
    TempFolder temp;
    const ByteString target = temp.Join("target");
    const ByteString link = temp.Join("link");
    CreateFolder(target);
    CreateSymbolicLinkW(Wide(link).c_str(), Wide(target).c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    if (GetFileAttributesW(Wide(link).c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "this system makes no symbolic links (Wine 8 reports success and makes none)";
    EXPECT_EQ(KindOf(link), EntryKind::FolderLink);
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(ListFolder(temp.Path(), entries));
    for (const auto& entry : entries) EXPECT_EQ(entry.kind, entry.name == "link" ? EntryKind::FolderLink : EntryKind::Folder);
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

// ---------------------------------------------------------------- dates

// Days since 1970-01-01 of a proleptic Gregorian date, and back: the
// well-known era-based formulas, an oracle independent of the runtime.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

LocalDateTime CivilFromSeconds(int64_t seconds) {
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    LocalDateTime civil;
    civil.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    civil.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    civil.year = yoe + era * 400 + (civil.month <= 2);
    civil.hour = static_cast<int>(rest / 3600);
    civil.minute = static_cast<int>(rest / 60 % 60);
    civil.second = static_cast<int>(rest % 60);
    return civil;
}

int64_t SecondsOf(const LocalDateTime& t) {
    return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

void ExpectSameMoment(const LocalDateTime& actual, const LocalDateTime& expected, int64_t seconds) {
    SCOPED_TRACE(seconds);
    EXPECT_EQ(actual.year, expected.year);
    EXPECT_EQ(actual.month, expected.month);
    EXPECT_EQ(actual.day, expected.day);
    EXPECT_EQ(actual.hour, expected.hour);
    EXPECT_EQ(actual.minute, expected.minute);
    EXPECT_EQ(actual.second, expected.second);
}

// The local offset in winter and in summer of a year the runtime handles;
// the rules of today are applied to any year.
int64_t OffsetOn(int month) {
    const int64_t utc = DaysFromCivil(2024, month, 15) * 86400 + 12 * 3600;
    return SecondsOf(ToLocalDateTime(utc)) - utc;
}

TEST(Win32Dates, AnyDateBeyondTheRuntimesRangeIsConverted) {
    struct Case {
        int64_t year;
        int month;
    };
    for (const Case c : {Case{3001, 1}, Case{3024, 7}, Case{9999, 12}, Case{1969, 7}, Case{1601, 1},
                         Case{-4000, 7}, Case{123456789, 7}}) {
        const int64_t utc = DaysFromCivil(c.year, c.month, 15) * 86400 + 12 * 3600 + 34 * 60 + 56;
        const int64_t local = utc + OffsetOn(c.month);
        ExpectSameMoment(ToLocalDateTime(utc), CivilFromSeconds(local), utc);
    }
}

TEST(Win32Dates, ExtremesNeitherOverflowNorCrash) {
    // INT64_MAX is 292277026596-12-04 15:30:07 UTC; INT64_MIN is
    // -292277022657-01-27 08:29:52 UTC.  No offset moves those across a year.
    EXPECT_EQ(ToLocalDateTime(INT64_MAX).year, 292277026596);
    EXPECT_EQ(ToLocalDateTime(INT64_MAX).month, 12);
    EXPECT_EQ(ToLocalDateTime(INT64_MIN).year, -292277022657);
    EXPECT_EQ(ToLocalDateTime(INT64_MIN).month, 1);
}

TEST(Win32Dates, SecondsRunOnAcrossTheEdgesOfTheRuntimesRange) {
    const int64_t lastOf3000 = DaysFromCivil(3001, 1, 1) * 86400 - 1;
    for (const int64_t edge : {int64_t{0}, lastOf3000}) {
        for (int64_t t = edge - 2; t <= edge + 2; ++t)
            EXPECT_EQ(SecondsOf(ToLocalDateTime(t + 1)) - SecondsOf(ToLocalDateTime(t)), 1) << t;
    }
}

}  // namespace
