// The real program as the system starts it: where it loads DLLs from.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "dialog_session.h"
#include "fs/fs_win32.h"
#include "program_process.h"
#include "support/test_support.h"

using gui_testing::StartedProgram;
using gui_testing::Wide;
using testing_support::TempFolder;

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
