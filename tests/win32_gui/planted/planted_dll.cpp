// A DLL that leaves a mark beside itself when it is loaded, and refuses to
// stay: planted beside the program under the name of a system DLL, it shows
// whether the program ever loads it.
#include <windows.h>

extern "C" BOOL WINAPI PlantedEntry(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH + 16];
    const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    DWORD folderEnd = length;
    while (folderEnd > 0 && path[folderEnd - 1] != L'\\') --folderEnd;
    const wchar_t mark[] = L"planted-dll-was-loaded";
    for (DWORD i = 0; i < sizeof mark / sizeof mark[0]; ++i) path[folderEnd + i] = mark[i];
    const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return FALSE;
}
