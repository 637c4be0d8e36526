#include "win32/drop_app_win32.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <utility>

#include "win32/help_win32.h"
#include "fs/fs.h"
#include "fs/fs_win32.h"
#include "text/text_win32.h"
#include "ui/drop_dialog.h"
#include "ui/start_texts.h"
#include "win32/drop_dialog_win32.h"
#include "win32/window_handoff_win32.h"

namespace {

bool IsSlash(wchar_t c) { return c == L'\\' || c == L'/'; }

// "C:\" and "\\server\share\" keep their last separator; other folders lose it.
std::wstring WithoutTrailingSeparator(std::wstring path) {
    const auto isRoot = [](const std::wstring& p) {
        if (p.size() == 3 && p[1] == L':') return true;
        if (p.size() < 2 || !IsSlash(p[0]) || !IsSlash(p[1])) return false;
        size_t separators = 0;
        for (size_t i = 2; i + 1 < p.size(); ++i) separators += IsSlash(p[i]) ? 1 : 0;
        return separators <= 1;
    };
    while (path.size() > 1 && IsSlash(path.back()) && !isRoot(path)) path.pop_back();
    return path;
}

}  // namespace

std::vector<std::wstring> CommandLineFiles(const wchar_t* commandLine) {
    std::vector<std::wstring> files;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(commandLine, &count);
    if (!arguments) return files;
    for (int i = 1; i < count; ++i) {
        const std::wstring argument = arguments[i];
        if (argument.empty()) continue;
        const std::wstring full = FullPathOf(argument);
        files.push_back(WithoutTrailingSeparator(full.empty() ? argument : full));
    }
    LocalFree(arguments);
    return files;
}

std::vector<DroppedPath> CommandLinePaths(const wchar_t* commandLine) {
    std::vector<DroppedPath> paths;
    for (const std::wstring& file : CommandLineFiles(commandLine)) paths.push_back(DroppedPathOfWide(file));
    return paths;
}

// Loading the settings never fails: an unreadable file gives the defaults.
// A file error while they are saved is shown by the window as it is destroyed.
// A window already open for the data folder takes the files instead.
void CDropApp::RunMainDialog(const ByteString& dataFolder, const std::vector<std::wstring>& startFiles) {
    const WindowClaim claim = ClaimWindow(dataFolder, startFiles);
    if (claim.handedOver) return;
    std::vector<DroppedPath> startPaths;
    for (const std::wstring& file : startFiles) startPaths.push_back(DroppedPathOfWide(file));
    CDropDlg dlg(dataFolder);
    RunDropDialog(instance_, dlg, std::move(startPaths), claim.laterStarts.get());
}

bool CDropApp::InitInstance() {
    // Relative paths are taken from the folder the program was started in.
    const std::vector<std::wstring> startFiles = CommandLineFiles(GetCommandLineW());

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
    // The folder browser is a shell COM object.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    // The settings and the logs live beside the program, or in the user's
    // data folder where the program's folder cannot be written (Program
    // Files).  Without a code page 932 name for either, rather than write them
    // somewhere else, the program says so and ends.
    const DataFolderChoice data = ChooseDataFolder(ProgramDir());
    const ByteString& dataFolder = data.folder;
    if (data.fault != DataFolderFault::None) {
        std::wstring text;
        (void)Cp932ToWide(DataFolderRefusedMessage(data), text);
        MessageBoxW(nullptr, text.c_str(), ProgramNameWide().c_str(), MB_OK | MB_ICONSTOP);
    } else if (dataFolder.empty()) {
        MessageBoxW(nullptr, L"ﾌﾟﾛｸﾞﾗﾑのﾌｫﾙﾀﾞ名にｼﾌﾄJISで表せない文字があるため、起動できません。",
                    ProgramNameWide().c_str(), MB_OK | MB_ICONSTOP);
    } else {
        RunMainDialog(dataFolder, startFiles);
    }

    if (SUCCEEDED(com)) CoUninitialize();
    return false;
}
