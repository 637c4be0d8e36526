// Where the program keeps its settings and logs on Windows: beside itself
// where it can create a file, otherwise in %LOCALAPPDATA%\Tessarbolink\; and
// where the filed documents go by default: beside it, or in the user's
// Documents folder.  A folder nobody can create a file in, not
// even an administrator (the tests run as root under Wine): Wine's view of
// the Linux /proc.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fs/documents_folder.h"
#include "fs/fs.h"
#include "support/access_list_win32.h"
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

// Moves the user's Documents folder (as the user can, in its properties)
// while it lives.
class DocumentsFolder {
public:
    explicit DocumentsFolder(const std::wstring& folder) {
        RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_,
                        nullptr);
        wchar_t old[32768];
        DWORD type = 0, size = sizeof old;
        if (RegQueryValueExW(key_, L"Personal", nullptr, &type, reinterpret_cast<BYTE*>(old), &size) == ERROR_SUCCESS)
            old_ = std::make_pair(type, std::wstring(old, size / sizeof(wchar_t)));
        Set(REG_EXPAND_SZ, folder + L'\0');
    }
    ~DocumentsFolder() {
        if (old_)
            Set(old_->first, old_->second);
        else
            RegDeleteValueW(key_, L"Personal");
        RegCloseKey(key_);
    }
    DocumentsFolder(const DocumentsFolder&) = delete;
    DocumentsFolder& operator=(const DocumentsFolder&) = delete;

private:
    static constexpr const wchar_t* kKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    void Set(DWORD type, const std::wstring& value) {
        RegSetValueExW(key_, L"Personal", 0, type, reinterpret_cast<const BYTE*>(value.data()),
                       static_cast<DWORD>(value.size() * sizeof(wchar_t)));
    }
    HKEY key_ = nullptr;
    std::optional<std::pair<DWORD, std::wstring>> old_;
};

void SetAccessList(const ByteString& folder, const wchar_t* list) {
    EXPECT_TRUE(testing_support::SetFolderAccessList(Wide(folder), list)) << list;
}

// The access list of a folder in the system's notation.
std::wstring AccessListOf(const ByteString& folder) {
    std::wstring native = Wide(folder);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(native.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return L"?";
    wchar_t* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                         &text, nullptr);
    std::wstring list = text ? text : L"?";
    LocalFree(text);
    LocalFree(descriptor);
    return list;
}

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

// The user's data folder is used only while nobody but the user (and the
// system and the administrators) may add, change or remove anything in it;
// one the program creates is made so, whatever the folder above passes on.
// (Under Wine the owner is the Linux owner, which a test cannot change, and
// an access list is kept only as the folder's mode.)
TEST(Win32DataFolder, TheUsersDataFolderIsUsedOnlyWhileItIsTheUsersAlone) {
    if (KindOf("Z:\\proc") == EntryKind::Missing || CanCreateFileIn(kUnwritable))
        GTEST_SKIP() << "no folder refuses new files here";
    const struct {
        const char* what;
        const wchar_t* above;  // the access list of %LOCALAPPDATA%; nullptr: as made
        bool made;             // the data folder is there before the start
        const wchar_t* list;   // its access list; nullptr: as made
        DataFolderFault fault;
        bool listOfItsOwn;     // made with a list that names only the user, the system and the administrators
    } cases[] = {
        {"one that everyone may write to", nullptr, true, L"D:P(A;OICI;FA;;;WD)", DataFolderFault::OthersMayWrite,
         false},
        {"one that everyone may read", nullptr, true, L"D:P(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;WD)",
         DataFolderFault::None, false},
        {"one as made", nullptr, true, nullptr, DataFolderFault::None, false},
        {"one the program makes", nullptr, false, nullptr, DataFolderFault::None, false},
        {"one the program makes where everyone may write", L"D:P(A;OICI;FA;;;WD)", false, nullptr,
         DataFolderFault::None, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder local;
        const ByteString data = local.Join("Tessarbolink");
        if (c.above) SetAccessList(local.Path(), c.above);
        if (c.made) MakeFolder(data);
        if (c.list) SetAccessList(data, c.list);
        const LocalAppData set(Wide(local.Path()));
        const DataFolderChoice chosen = ChooseDataFolder(kUnwritable);
        EXPECT_EQ(chosen.folder, data + "\\");
        EXPECT_EQ(chosen.fault, c.fault);
        if (c.listOfItsOwn) {
            EXPECT_EQ(AccessListOf(data).find(L";WD)"), std::wstring::npos) << "everyone is let in";
        }
        EXPECT_TRUE(NamesIn(data).empty()) << "nothing is put into it";
    }
}

TEST(Win32DataFolder, DefaultDestinationIsBesideTheProgramOrInTheDocumentsFolder) {
    TempFolder temp;
    const ByteString program = temp.Path() + "\\";
    const ByteString data = temp.Join("Local\\Tessarbolink\\");
    const ByteString moved = temp.Join("Docs\\");
    MakeFolder(temp.Join("Docs"));
    const struct {
        const char* what;
        std::wstring documents;
        ByteString dataFolder;
        ByteString expectedDocuments;
        ByteString expected;
    } cases[] = {
        {"a portable program files beside itself", Wide(temp.Join("Docs")), program, moved, program + "MovedFiles\\"},
        {"an installed one into the Documents folder, wherever it was moved", Wide(temp.Join("Docs")), data, moved,
         moved + "MovedFiles\\"},
        {"one that need not exist yet", Wide(temp.Join("New")), data, temp.Join("New\\"),
         temp.Join("New\\MovedFiles\\")},
        {"into the data folder when the Documents folder has no Shift_JIS name", Wide(temp.Path()) + L"\\\xD55C",
         data, "", data + "MovedFiles\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DocumentsFolder documents(c.documents);
        EXPECT_EQ(UserDocumentsFolder(), c.expectedDocuments);
        EXPECT_EQ(DefaultDestinationFor(program, c.dataFolder), c.expected);
    }
    EXPECT_EQ(NamesIn(temp.Path()), std::vector<ByteString>{"Docs"}) << "nothing is created";
}
