#include "win32/dll_search_win32.h"

#include <windows.h>

void LoadDllsOnlyFromTheSystemFolder() {
    // Windows 7 has the call only with an update: looked up, not imported,
    // so that the program still starts without it.
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories = reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Without it the program's folder stays in the search; the current
    // folder at least goes.
    SetDllDirectoryW(L"");
}
