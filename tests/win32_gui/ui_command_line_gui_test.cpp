// Files given on the command line, as Explorer gives them when files are
// dropped on Tessarbolink.exe or sent to it: the arguments as paths, and the
// real program, started with them, handling them as a drop once its window
// is up.
#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "dialog_session.h"
#include "program_process.h"
#include "fs/fs_win32.h"
#include "settings/settings_file.h"
#include "support/test_support.h"
#include "text/text_win32.h"
#include "win32/drop_app_win32.h"

using gui_testing::DialogSession;
using gui_testing::MessageOf;
using gui_testing::ProgramWindows;
using gui_testing::StartedProgram;
using gui_testing::Wide;
using gui_testing::WindowsOf;
using testing_support::NamesIn;
using testing_support::ReadBytes;
using testing_support::TempFolder;
using testing_support::WriteBytes;

namespace {

std::wstring W(const char8_t* utf8) { return Wide(Cp932(utf8)); }

// Makes `folder` the current folder while it lives.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::wstring& folder) {
        wchar_t old[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, old);
        old_ = old;
        SetCurrentDirectoryW(folder.c_str());
    }
    ~CurrentFolder() { SetCurrentDirectoryW(old_.c_str()); }

private:
    std::wstring old_;
};

}  // namespace

TEST(CommandLine, EveryArgumentIsAPathMadeWholeAsWindowsDoes) {
    TempFolder here;
    const CurrentFolder current(Wide(here.Path()));
    const ByteString parent = here.Path().substr(0, here.Path().rfind('\\'));
    const std::vector<DroppedPath> paths = CommandLinePaths(
        L"\"C:\\Program Files\\Tessarbolink\\Tessarbolink.exe\" rel.txt \"with space\\x.txt\" sub\\ "
        L"C:\\abs\\file.txt \"\" -opt ..\\up.txt C:\\ \xD55C.txt");
    const std::vector<std::pair<ByteString, bool>> expected = {
        {here.Join("rel.txt"), true},
        {here.Join("with space\\x.txt"), true},
        {here.Join("sub"), true},  // no trailing separator
        {"C:\\abs\\file.txt", true},
        {here.Join("-opt"), true},  // no option: a file of that name
        {parent + "\\up.txt", true},
        {"C:\\", true},  // a root keeps its separator
        {here.Join("?.txt"), false},
    };
    ASSERT_EQ(paths.size(), expected.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(paths[i].path, expected[i].first) << i;
        EXPECT_EQ(paths[i].convertible, expected[i].second) << i;
    }
}

// The program, copied into a folder of its own, started from a work folder
// with a relative path, an absolute one and one without a Shift_JIS form:
// the question comes over the shown window, the files are moved in the order
// given, the third is a logged failure; closing saves beside the program.
TEST(CommandLine, TheProgramStartedWithFilesHandlesThemAsADrop) {
    const std::wstring built = gui_testing::BuiltProgram();
    if (built.empty()) GTEST_SKIP() << "no Tessarbolink.exe";
    TempFolder programFolder;
    TempFolder work;
    const std::wstring program = Wide(programFolder.Join("Tessarbolink.exe"));
    ASSERT_TRUE(CopyFileW(built.c_str(), program.c_str(), TRUE));
    const ByteString dest = work.Join("dest") + "\\";
    WriteBytes(programFolder.Join("Morvandel.sav"), "m_sWhere=" + dest + "\r\nm_sFileNameFormat=" +
                                                        Cp932(u8"[連番]_[ファイルタイトル].[拡張子]") +
                                                        "\r\nm_nMode=0\r\nm_bErrorLog=1\r\n");
    WriteBytes(work.Join("beta.txt"), "beta");
    WriteBytes(work.Join("alpha.txt"), "alpha");
    const std::wstring foreign = Wide(work.Path()) + L"\\\xD55C\xAE00.txt";
    CloseHandle(CreateFileW(foreign.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));

    const StartedProgram started(program, L"beta.txt \"" + Wide(work.Join("alpha.txt")) + L"\" \xD55C\xAE00.txt",
                                 Wide(work.Path()));
    ASSERT_TRUE(started.started());

    // Plays the user from outside: Yes, then OK, then the close box.
    std::vector<std::wstring> captions;
    std::wstring result;
    bool mainShownAtQuestion = false;
    std::set<HWND> answered;
    bool closed = false;
    for (int waited = 0; !started.WaitForEnd(20); waited += 20) {
        if (waited > 30000) {
            ADD_FAILURE() << "the program did not end";
            break;
        }
        const ProgramWindows windows = WindowsOf(started.id());
        for (HWND box : windows.boxes) {
            if (!answered.insert(box).second) continue;
            captions.push_back(DialogSession::TextOf(box));
            const bool question = GetDlgItem(box, IDYES) != nullptr;
            if (question) mainShownAtQuestion = windows.main && IsWindowVisible(windows.main);
            else result = MessageOf(box);
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(question ? IDYES : IDOK, BN_CLICKED), 0);
        }
        if (!closed && answered.size() == 2 && windows.boxes.empty() && windows.main &&
            IsWindowEnabled(windows.main)) {
            PostMessageW(windows.main, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            closed = true;
        }
    }

    EXPECT_EQ(captions, (std::vector<std::wstring>{W(u8"移動処理"), W(u8"結果")}));
    EXPECT_TRUE(mainShownAtQuestion);
    EXPECT_EQ(result, W(u8"成功：2　失敗：1　トータル：3"));
    EXPECT_EQ(NamesIn(work.Join("dest")), (std::vector<ByteString>{"0_beta.txt", "1_alpha.txt"}));
    EXPECT_NE(GetFileAttributesW(foreign.c_str()), INVALID_FILE_ATTRIBUTES) << "left alone";
    EXPECT_EQ(ReadBytes(programFolder.Join("error.log")), work.Join("??.txt") + ">" + dest + "2_??.txt\r\n");
    EXPECT_EQ(LoadSettings(programFolder.Path() + "\\").m_sWhere, dest) << "closing saved beside the program";
}
