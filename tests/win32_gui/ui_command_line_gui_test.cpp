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
#include "fs/fs_win32.h"
#include "settings/settings_file.h"
#include "support/test_support.h"
#include "text/text_win32.h"
#include "ui/command_line.h"
#include "win32/drop_app_win32.h"

using gui_testing::DialogSession;
using gui_testing::Wide;
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

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

struct ProgramWindows {
    DWORD process = 0;
    HWND main = nullptr;
    std::vector<HWND> boxes;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM found) {
    auto& windows = *reinterpret_cast<ProgramWindows*>(found);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != windows.process || ClassOf(window) != L"#32770" || !IsWindowVisible(window)) return TRUE;
    if (GetWindow(window, GW_OWNER)) windows.boxes.push_back(window);
    else windows.main = window;
    return TRUE;
}

// The message of a message box: its non-empty static text.
std::wstring MessageOf(HWND box) {
    std::wstring found;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) == L"Static") {
            const std::wstring text = DialogSession::TextOf(child);
            if (!text.empty()) found = text;
        }
    }
    return found;
}

// The program as built, beside the tests' folder; empty when it is missing.
std::wstring BuiltProgram() {
    const std::wstring testExe = ExecutablePathWide();
    const std::wstring buildFolder = testExe.substr(0, testExe.find_last_of(L'\\', testExe.find_last_of(L'\\') - 1));
    const std::wstring built = buildFolder + L"\\Tessarbolink.exe";
    return GetFileAttributesW(built.c_str()) == INVALID_FILE_ATTRIBUTES ? std::wstring() : built;
}

struct Finished {
    DWORD status = 0;
    std::string out, err;
};

std::string ReadAll(HANDLE pipe) {
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    return bytes;
}

// Starts the program with these arguments, its standard output and error
// going to pipes, and waits for it to end (killing it after 20 s).
Finished RunWithPipes(const std::wstring& program, const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    CreatePipe(&outRead, &outWrite, &inherit, 0);
    CreatePipe(&errRead, &errWrite, &inherit, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION started{};
    Finished finished;
    const bool ran = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                    nullptr, &startup, &started);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (ran) {
        if (WaitForSingleObject(started.hProcess, 20000) == WAIT_TIMEOUT) TerminateProcess(started.hProcess, 99);
        finished.out = ReadAll(outRead);
        finished.err = ReadAll(errRead);
        GetExitCodeProcess(started.hProcess, &finished.status);
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
    CloseHandle(outRead);
    CloseHandle(errRead);
    return finished;
}

// A text of the command line as it reaches a redirected stream: CR LF line
// ends, in the console's code page.
std::string AsRedirected(std::string_view utf8) {
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<size_t>(
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), static_cast<int>(wide.size()))));
    std::wstring lines;
    for (const wchar_t c : wide) lines += c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, c);
    std::string bytes(lines.size() * 4, '\0');
    bytes.resize(static_cast<size_t>(WideCharToMultiByte(GetConsoleOutputCP(), 0, lines.data(), static_cast<int>(lines.size()),
                                                         bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr)));
    return bytes;
}

}  // namespace

// Started from a console (the test's own) with an option: the answer comes
// on the console's streams with its exit status, and no window opens.
TEST(CommandLine, OptionsAreAnsweredOnTheConsoleWithoutAWindow) {
    const std::wstring program = BuiltProgram();
    if (program.empty()) GTEST_SKIP() << "no Tessarbolink.exe";
    const struct {
        const wchar_t* arguments;
        DWORD status;
        std::string out, err;
    } cases[] = {
        {L"--help", 0, std::string(UsageText()), ""},
        {L"--version", 0, VersionText(), ""},
        {L"a.txt --version --help", 0, VersionText(), ""},  // options anywhere; the first decides
        {L"--bogus --help", 2, "", RefusedOptionText("--bogus")},
        {L"a.txt -", 2, "", RefusedOptionText("-")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToCp932Shown(c.arguments));
        const Finished finished = RunWithPipes(program, c.arguments);
        EXPECT_EQ(finished.status, c.status);
        EXPECT_EQ(finished.out, AsRedirected(c.out));
        EXPECT_EQ(finished.err, AsRedirected(c.err));
    }
}

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
        {here.Join("-opt"), true},  // without a console no option is read: a file of that name
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

// The program, copied into a folder of its own under a name whose second
// byte is "\\" (表, ソ), started from a work folder with a relative path, a
// file named like an option after "--", an absolute path and one without a
// Shift_JIS form: the question comes over the shown window, the files are
// moved in the order given, the last is a logged failure; closing saves
// beside the program.
TEST(CommandLine, TheProgramStartedWithFilesHandlesThemAsADrop) {
    const std::wstring built = BuiltProgram();
    if (built.empty()) GTEST_SKIP() << "no Tessarbolink.exe";
    TempFolder programFolder;
    TempFolder work;
    const std::wstring program = Wide(programFolder.Join(Cp932(u8"表ソフト.exe")));
    ASSERT_TRUE(CopyFileW(built.c_str(), program.c_str(), TRUE));
    const ByteString dest = work.Join("dest") + "\\";
    WriteBytes(programFolder.Join("Morvandel.sav"), "m_sWhere=" + dest + "\r\nm_sFileNameFormat=" +
                                                        Cp932(u8"[連番]_[ファイルタイトル].[拡張子]") +
                                                        "\r\nm_nMode=0\r\nm_bErrorLog=1\r\n");
    WriteBytes(work.Join("beta.txt"), "beta");
    WriteBytes(work.Join("-alpha.txt"), "alpha");
    WriteBytes(work.Join("gamma.txt"), "gamma");
    const std::wstring foreign = Wide(work.Path()) + L"\\\xD55C\xAE00.txt";
    CloseHandle(CreateFileW(foreign.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));

    std::wstring commandLine =
        L"\"" + program + L"\" beta.txt -- -alpha.txt \"" + Wide(work.Join("gamma.txt")) + L"\" \xD55C\xAE00.txt";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               Wide(work.Path()).c_str(), &startup, &started));

    // Plays the user from outside: Yes, then OK, then the close box.
    std::vector<std::wstring> captions;
    std::wstring result;
    bool mainShownAtQuestion = false;
    std::set<HWND> answered;
    bool closed = false;
    for (int waited = 0; WaitForSingleObject(started.hProcess, 20) == WAIT_TIMEOUT; waited += 20) {
        if (waited > 30000) {
            TerminateProcess(started.hProcess, 1);
            ADD_FAILURE() << "the program did not end";
            break;
        }
        ProgramWindows windows;
        windows.process = started.dwProcessId;
        EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
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
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);

    EXPECT_EQ(captions, (std::vector<std::wstring>{W(u8"移動処理"), W(u8"結果")}));
    EXPECT_TRUE(mainShownAtQuestion);
    EXPECT_EQ(result, W(u8"成功：3　失敗：1　トータル：4"));
    EXPECT_EQ(NamesIn(work.Join("dest")), (std::vector<ByteString>{"0_beta.txt", "1_-alpha.txt", "2_gamma.txt"}));
    EXPECT_NE(GetFileAttributesW(foreign.c_str()), INVALID_FILE_ATTRIBUTES) << "left alone";
    EXPECT_EQ(ReadBytes(programFolder.Join("error.log")), work.Join("??.txt") + ">" + dest + "3_??.txt\r\n");
    EXPECT_EQ(LoadSettings(programFolder.Path() + "\\").m_sWhere, dest) << "closing saved beside the program";
}
