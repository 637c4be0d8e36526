// The real program as the system starts it: where it loads DLLs from, the
// data folder it accepts, and one window per data folder, to which later
// starts hand their files.
#include <gtest/gtest.h>

#include <windows.h>


#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "dialog_session.h"
#include "fs/fs_win32.h"
#include "program_process.h"
#include "support/access_list_win32.h"
#include "support/test_support.h"
#include "text/text_win32.h"

using gui_testing::DialogSession;
using gui_testing::StartedProgram;
using gui_testing::Wide;
using gui_testing::WindowsOf;
using testing_support::NamesIn;
using testing_support::TempFolder;
using testing_support::WriteBytes;

namespace {

// Sets an environment variable for the programs started while it lives.
class Environment {
public:
    Environment(const wchar_t* name, const wchar_t* value) : name_(name) {
        wchar_t old[4096];
        const DWORD length = GetEnvironmentVariableW(name, old, 4096);
        if (length > 0 && length < 4096) old_ = std::wstring(old, length);
        SetEnvironmentVariableW(name, value);
    }
    ~Environment() { SetEnvironmentVariableW(name_, old_ ? old_->c_str() : nullptr); }

private:
    const wchar_t* name_;
    std::optional<std::wstring> old_;
};

// Has the running program load a DLL by its bare name, as a component of
// the system does inside it: a thread of the program calls LoadLibraryW.
// The thread's result: zero when nothing was loaded.
DWORD LoadByNameInside(HANDLE process, const std::wstring& dll) {
    const SIZE_T bytes = (dll.size() + 1) * sizeof(wchar_t);
    void* name = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!name || !WriteProcessMemory(process, name, dll.c_str(), bytes, nullptr)) return 0;
    const auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
    const HANDLE thread = CreateRemoteThread(process, nullptr, 0, loadLibrary, name, 0, nullptr);
    DWORD result = 0;
    if (thread) {
        WaitForSingleObject(thread, 20000);
        GetExitCodeThread(thread, &result);
        CloseHandle(thread);
    }
    VirtualFreeEx(process, name, 0, MEM_RELEASE);
    return result;
}

}  // namespace

// A portable copy in a folder that also holds a DLL named like a system DLL
// (dwmapi.dll, which the program has not loaded yet), with Wine told to
// prefer a DLL of that name that is not its own: when something inside the
// running program loads it by name, the system's is loaded, not the planted
// one.
TEST(ProgramStart, ADllPlantedBesideTheProgramIsNeverLoaded) {
    const std::wstring built = gui_testing::BuiltProgram();
    if (built.empty()) GTEST_SKIP() << "no Tessarbolink.exe";
    const std::wstring testExe = ExecutablePathWide();
    const std::wstring planted = testExe.substr(0, testExe.find_last_of(L'\\')) + L"\\planted.dll";
    TempFolder folder;
    const std::wstring program = Wide(folder.Join("Tessarbolink.exe"));
    ASSERT_TRUE(CopyFileW(built.c_str(), program.c_str(), TRUE));
    ASSERT_TRUE(CopyFileW(planted.c_str(), Wide(folder.Join("dwmapi.dll")).c_str(), TRUE));
    const std::wstring mark = Wide(folder.Join("planted-dll-was-loaded"));

    const Environment nativeFirst(L"WINEDLLOVERRIDES", L"dwmapi=n,b;mscoree,mshtml=");
    StartedProgram started(program, L"", Wide(folder.Path()));
    ASSERT_TRUE(started.started());
    const HWND main = started.WaitForMainWindow(20000);
    ASSERT_NE(main, nullptr);

    EXPECT_NE(LoadByNameInside(started.handle(), L"dwmapi.dll"), 0u) << "the system's DLL was loaded";
    EXPECT_EQ(GetFileAttributesW(mark.c_str()), INVALID_FILE_ATTRIBUTES) << "the planted DLL was loaded";

    PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(started.WaitForEnd(20000));
}

namespace {

std::wstring W(const char8_t* utf8) { return Wide(Cp932(utf8)); }

// The program copied into a folder of its own, which keeps its files.
class ProgramCopy {
public:
    ProgramCopy() : program_(Wide(folder_.Join("Tessarbolink.exe"))) {
        const std::wstring built = gui_testing::BuiltProgram();
        copied_ = !built.empty() && CopyFileW(built.c_str(), program_.c_str(), TRUE);
    }
    bool copied() const { return copied_; }
    const TempFolder& folder() const { return folder_; }
    std::unique_ptr<StartedProgram> Start(const std::wstring& arguments, const ByteString& from) const {
        auto started = std::make_unique<StartedProgram>(program_, arguments, Wide(from));
        EXPECT_TRUE(started->started());
        return started;
    }

private:
    TempFolder folder_;
    std::wstring program_;
    bool copied_ = false;
};

}  // namespace

// The window is busy with its own files (its question is up) when a later
// start brings one by a relative path: the later start shows nothing and
// ends at once, and the window handles the file after its batch, from the
// folder the later start was made in.
TEST(ProgramStart, ALaterStartHandsItsFilesToTheOpenWindowWhichHandlesThemOnceFree) {
    ProgramCopy copy;
    if (!copy.copied()) GTEST_SKIP() << "no Tessarbolink.exe";
    TempFolder work;
    const ByteString dest = work.Join("dest") + "\\";
    WriteBytes(copy.folder().Join("Morvandel.sav"), "m_sWhere=" + dest + "\r\nm_sFileNameFormat=" +
                                                        Cp932(u8"[連番]_[ファイルタイトル].[拡張子]") +
                                                        "\r\nm_nMode=0\r\n");
    WriteBytes(work.Join("first.txt"), "1");
    testing_support::MakeFolder(work.Join(Cp932(u8"後で")));
    WriteBytes(work.Join(Cp932(u8"後で\\later.txt")), "2");

    const std::unique_ptr<StartedProgram> window = copy.Start(L"first.txt", work.Path());
    std::unique_ptr<StartedProgram> later;
    bool laterEndedBeforeAnswer = false;
    bool laterShowedAWindow = false;
    std::vector<std::wstring> seen;
    std::set<HWND> answered;
    bool closed = false;
    for (int waited = 0; !window->WaitForEnd(20); waited += 20) {
        if (waited > 40000) {
            ADD_FAILURE() << "the window did not end";
            break;
        }
        if (later && !later->WaitForEnd(0) && WindowsOf(later->id()).main) laterShowedAWindow = true;
        const gui_testing::ProgramWindows windows = WindowsOf(window->id());
        for (HWND box : windows.boxes) {
            if (answered.count(box)) continue;
            if (!later) {
                // The first question is up: the later start comes now.
                later = copy.Start(W(u8"後で\\later.txt"), work.Path());
                laterEndedBeforeAnswer = later->WaitForEnd(20000);
            }
            answered.insert(box);
            const bool question = GetDlgItem(box, IDYES) != nullptr;
            seen.push_back(question ? DialogSession::TextOf(box) : gui_testing::MessageOf(box));
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(question ? IDYES : IDOK, BN_CLICKED), 0);
        }
        if (!closed && answered.size() == 4 && windows.boxes.empty() && windows.main &&
            IsWindowEnabled(windows.main)) {
            PostMessageW(windows.main, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            closed = true;
        }
    }

    ASSERT_TRUE(later);
    EXPECT_TRUE(laterEndedBeforeAnswer) << "the later start waits for no batch";
    EXPECT_EQ(later->ExitCode(), 0u);
    EXPECT_FALSE(laterShowedAWindow);
    EXPECT_EQ(seen, (std::vector<std::wstring>{W(u8"移動処理"), W(u8"成功：1　失敗：0　トータル：1"), W(u8"移動処理"),
                                               W(u8"成功：1　失敗：0　トータル：1")}));
    EXPECT_EQ(NamesIn(work.Join("dest")), (std::vector<ByteString>{"0_first.txt", "0_later.txt"}));
}

// Starts at the same moment: exactly one becomes the window, the others hand
// over to it (no files: it only comes to the front) and end.  A window that
// was killed leaves nothing that keeps the next start from becoming it.
TEST(ProgramStart, OfStartsAtOnceOneBecomesTheWindowAndAKilledOneLeavesNothingBehind) {
    ProgramCopy copy;
    if (!copy.copied()) GTEST_SKIP() << "no Tessarbolink.exe";
    for (const int count : {3, 2}) {
        SCOPED_TRACE(count == 3 ? "three starts at once" : "two starts after the window was killed");
        std::vector<std::unique_ptr<StartedProgram>> starts;
        for (int i = 0; i < count; ++i) starts.push_back(copy.Start(L"", copy.folder().Path()));
        const auto running = [&] {
            int alive = 0;
            for (const auto& start : starts) alive += start->WaitForEnd(0) ? 0 : 1;
            return alive;
        };
        for (int waited = 0; running() > 1 && waited < 30000; waited += 20) Sleep(20);
        ASSERT_EQ(running(), 1);
        for (const auto& start : starts) {
            if (start->WaitForEnd(0)) {
                EXPECT_EQ(start->ExitCode(), 0u);
            } else {
                EXPECT_NE(start->WaitForMainWindow(20000), nullptr) << "the one left is the window";
                TerminateProcess(start->handle(), 1);  // as a crash would end it
                EXPECT_TRUE(start->WaitForEnd(10000));
            }
        }
    }
}

// Installed where it cannot keep its files beside itself (here a folder whose
// name has no code page 932 form, which it never writes to), the program
// makes its data folder in %LOCALAPPDATA% and opens its window.  Once that
// folder lets everyone write to it, the start stops with a box that names the
// folder and the reason, and nothing is written into it.
TEST(ProgramStart, ADataFolderEveryoneMayWriteToStopsTheStartWithTheFolderAndTheReason) {
    const std::wstring built = gui_testing::BuiltProgram();
    if (built.empty()) GTEST_SKIP() << "no Tessarbolink.exe";
    TempFolder temp;
    const std::wstring programFolder = Wide(temp.Path()) + L"\\\xD55C";
    ASSERT_TRUE(CreateDirectoryW(programFolder.c_str(), nullptr));
    const std::wstring program = programFolder + L"\\Tessarbolink.exe";
    ASSERT_TRUE(CopyFileW(built.c_str(), program.c_str(), TRUE));
    testing_support::MakeFolder(temp.Join("Local"));
    const ByteString data = temp.Join("Local\\Tessarbolink");
    const Environment localAppData(L"LOCALAPPDATA", Wide(temp.Join("Local")).c_str());

    {
        StartedProgram started(program, L"", Wide(temp.Path()));
        const HWND main = started.WaitForMainWindow(20000);
        ASSERT_NE(main, nullptr);
        EXPECT_NE(FindWindowExW(main, nullptr, L"Edit", nullptr), nullptr) << "the main window, not a box";
        PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        EXPECT_TRUE(started.WaitForEnd(20000));
    }
    const std::vector<ByteString> kept = NamesIn(data);
    EXPECT_FALSE(kept.empty()) << "the settings are kept in the data folder";

    ASSERT_TRUE(testing_support::SetFolderAccessList(Wide(data), L"D:P(A;OICI;FA;;;WD)"));

    StartedProgram refused(program, L"", Wide(temp.Path()));
    const HWND box = refused.WaitForMainWindow(20000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(gui_testing::MessageOf(box), W(u8"設定とログを置くフォルダ「") + Wide(data) +
                                               W(u8"」は、ほかのユーザーも書き込めるため使えません。起動を中止します。"));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(refused.WaitForEnd(20000));
    EXPECT_EQ(NamesIn(data), kept) << "nothing is written into a folder that is refused";
}
