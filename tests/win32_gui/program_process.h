#pragma once
// The real program, Tessarbolink.exe from the build folder, copied into a
// folder of a test's own and started as a separate process, whose windows
// the test finds and plays from outside.
#include <windows.h>

#include <string>
#include <vector>

namespace gui_testing {

// The program built beside the tests; empty when there is none.
std::wstring BuiltProgram();

// The visible dialogs of a process: its main window and the boxes it owns.
struct ProgramWindows {
    HWND main = nullptr;
    std::vector<HWND> boxes;
};
ProgramWindows WindowsOf(DWORD process);

// The message of a message box: its non-empty static text.
std::wstring MessageOf(HWND box);

// A started program; killed at the end if it still runs.
class StartedProgram {
public:
    // Runs `program` with the arguments (already quoted as a command line)
    // in `folder`; check started().
    StartedProgram(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder);
    ~StartedProgram();
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

    bool started() const { return process_.hProcess != nullptr; }
    DWORD id() const { return process_.dwProcessId; }
    HANDLE handle() const { return process_.hProcess; }
    // Waits up to the time given; true once it has ended.
    bool WaitForEnd(DWORD milliseconds) const;
    // Its exit code once it has ended; STILL_ACTIVE before.
    DWORD ExitCode() const;
    // Its main window once shown, waiting up to the time given.
    HWND WaitForMainWindow(DWORD milliseconds) const;

private:
    PROCESS_INFORMATION process_{};
};

}  // namespace gui_testing
