#include "win32/console_win32.h"

namespace {

std::wstring WideOfUtf8(std::string_view utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::wstring WithCrLf(const std::wstring& text) {
    std::wstring lines;
    for (const wchar_t c : text) {
        if (c == L'\n') lines += L'\r';
        lines += c;
    }
    return lines;
}

bool WriteWholeConsole(HANDLE console, const std::wstring& text) {
    DWORD written = 0;
    return WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

bool WriteWholeFile(HANDLE file, const std::wstring& text) {
    const UINT codePage = GetConsoleOutputCP();  // 0, the ANSI code page, where the console names none
    const int length = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr,
                            nullptr);
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

}  // namespace

bool UseStartingConsole(bool& attached) {
    attached = AttachConsole(ATTACH_PARENT_PROCESS) != 0;
    // ERROR_ACCESS_DENIED: the program is attached to a console already.
    return attached || GetLastError() == ERROR_ACCESS_DENIED;
}

bool WriteToConsole(DWORD stream, std::string_view utf8) {
    const std::wstring text = WithCrLf(WideOfUtf8(utf8));
    const HANDLE handle = GetStdHandle(stream);
    DWORD mode = 0;
    if (handle && handle != INVALID_HANDLE_VALUE) {
        if (GetConsoleMode(handle, &mode)) return WriteWholeConsole(handle, text);
        if (GetFileType(handle) != FILE_TYPE_UNKNOWN) return WriteWholeFile(handle, text);
    }
    // A window program started from a console may have no standard handles
    // of its own: write to the console it is attached to.
    const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE) return false;
    const bool written = WriteWholeConsole(console, text);
    CloseHandle(console);
    return written;
}

std::string Utf8OfWide(const std::wstring& wide) {
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), length, nullptr,
                            nullptr);
    return utf8;
}
