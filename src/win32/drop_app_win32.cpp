#include "win32/drop_app_win32.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <string>
#include <utility>

#include "win32/help_win32.h"
#include "fs/documents_folder.h"
#include "fs/fs.h"
#include "fs/fs_win32.h"
#include "ui/command_line.h"
#include "ui/drop_dialog.h"
#include "win32/console_win32.h"
#include "win32/drop_dialog_win32.h"

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

// The arguments after the program's name.
std::vector<std::wstring> ArgumentsOf(const wchar_t* commandLine) {
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(commandLine, &count);
    if (!split) return arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(split[i]);
    LocalFree(split);
    return arguments;
}

DroppedPath PathOfArgument(const std::wstring& argument) {
    const std::wstring full = FullPathOf(argument);
    return DroppedPathOfWide(WithoutTrailingSeparator(full.empty() ? argument : full));
}

void AddPath(std::vector<DroppedPath>& paths, const std::wstring& argument) {
    if (!argument.empty()) paths.push_back(PathOfArgument(argument));
}

}  // namespace

std::vector<DroppedPath> CommandLinePaths(const wchar_t* commandLine) {
    std::vector<DroppedPath> paths;
    for (const std::wstring& argument : ArgumentsOf(commandLine)) AddPath(paths, argument);
    return paths;
}

// Loading the settings never fails: an unreadable file gives the defaults.
// A file error while they are saved is shown by the window as it is destroyed.
void CDropApp::RunMainDialog(const ByteString& dataFolder, std::vector<DroppedPath> startPaths) {
    CDropDlg dlg(dataFolder, DefaultDestinationFor(ProgramDir(), dataFolder));
    RunDropDialog(instance_, dlg, std::move(startPaths));
}

// Options are read only where there is a console to answer on: started from
// Explorer or a shortcut, every argument is a path, as it always was.
bool CDropApp::AnswerOptions(std::vector<DroppedPath>& startPaths) {
    const std::vector<std::wstring> arguments = ArgumentsOf(GetCommandLineW());
    const bool anyOption =
        std::any_of(arguments.begin(), arguments.end(), [](const std::wstring& a) { return a.starts_with(L'-'); });
    bool attached = false;
    if (!anyOption || !UseStartingConsole(attached)) {
        startPaths = CommandLinePaths(GetCommandLineW());
        return false;
    }
    std::vector<std::u16string> forOptions;
    for (const std::wstring& argument : arguments) forOptions.emplace_back(argument.begin(), argument.end());
    const CommandLine line = ReadCommandLine(forOptions);
    bool answered = true;
    switch (line.request) {
    case StartRequest::Help: exitCode_ = WriteToConsole(STD_OUTPUT_HANDLE, UsageText()) ? 0 : 1; break;
    case StartRequest::Version: exitCode_ = WriteToConsole(STD_OUTPUT_HANDLE, VersionText()) ? 0 : 1; break;
    case StartRequest::RefusedOption:
        WriteToConsole(STD_ERROR_HANDLE, RefusedOptionText(Utf8OfWide(arguments[line.refused])));
        exitCode_ = kRefusedOptionStatus;
        break;
    case StartRequest::Window:
        for (const size_t file : line.files) AddPath(startPaths, arguments[file]);
        answered = false;
        break;
    }
    if (attached) FreeConsole();
    return answered;
}

bool CDropApp::InitInstance() {
    // Relative paths are taken from the folder the program was started in.
    std::vector<DroppedPath> startPaths;
    if (AnswerOptions(startPaths)) return false;

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
    const ByteString dataFolder = DataFolderFor(ProgramDir());
    if (dataFolder.empty()) {
        MessageBoxW(nullptr, L"ﾌﾟﾛｸﾞﾗﾑのﾌｫﾙﾀﾞ名にｼﾌﾄJISで表せない文字があるため、起動できません。",
                    ProgramNameWide().c_str(), MB_OK | MB_ICONSTOP);
    } else {
        RunMainDialog(dataFolder, std::move(startPaths));
    }

    if (SUCCEEDED(com)) CoUninitialize();
    return false;
}
