#include "program_process.h"

#include "dialog_session.h"
#include "fs/fs_win32.h"

namespace gui_testing {

namespace {

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

struct Search {
    DWORD process;
    ProgramWindows* found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM search) {
    const auto& wanted = *reinterpret_cast<Search*>(search);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != wanted.process || ClassOf(window) != L"#32770" || !IsWindowVisible(window)) return TRUE;
    if (GetWindow(window, GW_OWNER)) wanted.found->boxes.push_back(window);
    else wanted.found->main = window;
    return TRUE;
}

}  // namespace

std::wstring BuiltProgram() {
    const std::wstring testExe = ExecutablePathWide();
    const size_t testsFolder = testExe.find_last_of(L'\\');
    const std::wstring built = testExe.substr(0, testExe.find_last_of(L'\\', testsFolder - 1)) + L"\\Tessarbolink.exe";
    return GetFileAttributesW(built.c_str()) == INVALID_FILE_ATTRIBUTES ? std::wstring() : built;
}

ProgramWindows WindowsOf(DWORD process) {
    ProgramWindows windows;
    Search search{process, &windows};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return windows;
}

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

StartedProgram::StartedProgram(const std::wstring& program, const std::wstring& arguments,
                               const std::wstring& folder) {
    std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &process_))
        process_ = PROCESS_INFORMATION{};
}

StartedProgram::~StartedProgram() {
    if (!started()) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

bool StartedProgram::WaitForEnd(DWORD milliseconds) const {
    return started() && WaitForSingleObject(process_.hProcess, milliseconds) == WAIT_OBJECT_0;
}

DWORD StartedProgram::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (started()) GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

HWND StartedProgram::WaitForMainWindow(DWORD milliseconds) const {
    for (DWORD waited = 0; started(); waited += 20) {
        if (const HWND main = WindowsOf(process_.dwProcessId).main) return main;
        if (waited >= milliseconds || WaitForEnd(20)) break;
    }
    return nullptr;
}

}  // namespace gui_testing
