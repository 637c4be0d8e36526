// Where the program keeps its settings, logs and default destination on
// Windows: beside itself where it can create a file, otherwise in
// %LOCALAPPDATA%\Tessarbolink\.  A folder nobody can create a file in, not
// even an administrator (the tests run as root under Wine): Wine's view of
// the Linux /proc.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "fs/fs.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const ByteString kUnwritable = "Z:\\proc\\";

// Sets LOCALAPPDATA (nullopt: removes it) while it lives.
class LocalAppData {
public:
    explicit LocalAppData(const std::optional<std::wstring>& value) {
        wchar_t old[32768];
        const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", old, 32768);
        if (length > 0 && length < 32768) old_ = std::wstring(old, length);
        SetEnvironmentVariableW(L"LOCALAPPDATA", value ? value->c_str() : nullptr);
    }
    ~LocalAppData() { SetEnvironmentVariableW(L"LOCALAPPDATA", old_ ? old_->c_str() : nullptr); }

private:
    std::optional<std::wstring> old_;
};

std::wstring Wide(const ByteString& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

TEST(Win32DataFolder, BesideTheProgramWhereItCanWriteElseInLocalAppData) {
    // (Wine shows the mount point as a link to a folder.)
    if (KindOf("Z:\\proc") == EntryKind::Missing || CanCreateFileIn(kUnwritable))
        GTEST_SKIP() << "no folder refuses new files here";
    TempFolder program;
    TempFolder local;
    const ByteString programDir = program.Path() + "\\";
    const std::wstring hangul = Wide(local.Path()) + L"\\\xD55C";
    const struct {
        const char* what;
        ByteString programDir;
        std::optional<std::wstring> localAppData;
        ByteString expected;
    } cases[] = {
        {"a writable program folder keeps everything", programDir, Wide(local.Path()), programDir},
        {"%LOCALAPPDATA%\\Tessarbolink, created", kUnwritable, Wide(local.Path()) + L"\\",
         local.Join("Tessarbolink\\")},
        {"no LOCALAPPDATA leaves the program folder", kUnwritable, std::nullopt, kUnwritable},
        {"a relative LOCALAPPDATA is ignored", kUnwritable, L"relative", kUnwritable},
        {"a folder without a Shift_JIS name leaves the program folder", kUnwritable, hangul, kUnwritable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const LocalAppData set(c.localAppData);
        EXPECT_EQ(ChooseDataFolder(c.programDir).folder, c.expected);
        EXPECT_EQ(ChooseDataFolder(c.programDir).fault, DataFolderFault::None);
        EXPECT_TRUE(NamesIn(program.Path()).empty()) << "nothing is left in the program folder";
        if (c.expected == local.Join("Tessarbolink\\")) {
            EXPECT_EQ(KindOf(local.Join("Tessarbolink")), EntryKind::Folder);
            (void)RemoveFolder(local.Join("Tessarbolink"));
        }
        EXPECT_TRUE(NamesIn(local.Path()).empty()) << "nothing is created for a folder that is not used";
    }
}

// Something else than a real folder under the data folder's name is never
// used, and stops the start (the program names the folder and the fault).
TEST(Win32DataFolder, AFileOfTheDataFoldersNameIsRefused) {
    if (KindOf("Z:\\proc") == EntryKind::Missing || CanCreateFileIn(kUnwritable))
        GTEST_SKIP() << "no folder refuses new files here";
    TempFolder local;
    WriteBytes(local.Join("Tessarbolink"), "not a folder");
    const LocalAppData set(Wide(local.Path()));
    const DataFolderChoice chosen = ChooseDataFolder(kUnwritable);
    EXPECT_EQ(chosen.folder, local.Join("Tessarbolink\\"));
    EXPECT_EQ(chosen.fault, DataFolderFault::NotAFolder);
    EXPECT_EQ(ReadBytes(local.Join("Tessarbolink")), "not a folder");
}
