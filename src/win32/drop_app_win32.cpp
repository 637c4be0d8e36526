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
#include "text/text_win32.h"
#include "ui/command_line.h"
#include "ui/drop_dialog.h"
#include "ui/start_texts.h"
#include "win32/console_win32.h"
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

// A file argument made whole, not yet converted; an empty one names no file.
void AddFile(std::vector<std::wstring>& files, const std::wstring& argument) {
    if (argument.empty()) return;
    const std::wstring full = FullPathOf(argument);
    files.push_back(WithoutTrailingSeparator(full.empty() ? argument : full));
}

}  // namespace

std::vector<std::wstring> CommandLineFiles(const wchar_t* commandLine) {
    std::vector<std::wstring> files;
    for (const std::wstring& argument : ArgumentsOf(commandLine)) AddFile(files, argument);
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
    CDropDlg dlg(dataFolder, DefaultDestinationFor(ProgramDir(), dataFolder));
    RunDropDialog(instance_, dlg, std::move(startPaths), claim.laterStarts.get());
}

// Options are read only where there is a console to answer on: started from
// Explorer or a shortcut, every argument is a path, as it always was.
bool CDropApp::AnswerOptions(std::vector<std::wstring>& startFiles) {
    const std::vector<std::wstring> arguments = ArgumentsOf(GetCommandLineW());
    const bool anyOption =
        std::any_of(arguments.begin(), arguments.end(), [](const std::wstring& a) { return a.starts_with(L'-'); });
    bool attached = false;
    if (!anyOption || !UseStartingConsole(attached)) {
        startFiles = CommandLineFiles(GetCommandLineW());
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
        for (const size_t file : line.files) AddFile(startFiles, arguments[file]);
        answered = false;
        break;
    }
    if (attached) FreeConsole();
    return answered;
}

bool CDropApp::InitInstance() {
    // Relative paths are taken from the folder the program was started in.
    std::vector<std::wstring> startFiles;
    if (AnswerOptions(startFiles)) return false;

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
