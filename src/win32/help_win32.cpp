#include "win32/help_win32.h"

#include "fs/fs_win32.h"

namespace {

// Topic numbers of dialogs in the help file start here.
constexpr ULONG_PTR kDialogTopicBase = 0x20000;

bool IsKeyDown(int key) { return (GetKeyState(key) & 0x8000) != 0; }

// Index just past the last "\" or "/".
size_t FileNameStart(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? 0 : separator + 1;
}

// Index of the extension's dot in the file name, or npos.
size_t ExtensionDot(const std::wstring& path) {
    const size_t dot = path.rfind(L'.');
    return dot == std::wstring::npos || dot < FileNameStart(path) ? std::wstring::npos : dot;
}

std::wstring HelpFilePath() {
    std::wstring path = ExecutablePathWide();
    const size_t dot = ExtensionDot(path);
    if (dot != std::wstring::npos) path.erase(dot);
    return path + L".HLP";
}

}  // namespace

std::wstring ProgramNameWide() {
    const std::wstring path = ExecutablePathWide();
    const size_t start = FileNameStart(path);
    const size_t dot = ExtensionDot(path);
    return path.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start);
}

void ShowHelpFor(HWND dialog, int templateId) {
    // Shift+F1 and the like are not the help key.
    if (IsKeyDown(VK_SHIFT) || IsKeyDown(VK_CONTROL) || IsKeyDown(VK_MENU)) return;
    const std::wstring helpFile = HelpFilePath();
    if (!WinHelpW(dialog, helpFile.c_str(), HELP_CONTEXT, kDialogTopicBase + templateId)) {
        MessageBoxW(dialog, L"ﾍﾙﾌﾟの起動に失敗しました。", ProgramNameWide().c_str(),
                    MB_OK | MB_ICONEXCLAMATION);
    }
}
