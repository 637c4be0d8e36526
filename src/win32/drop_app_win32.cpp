#include "win32/drop_app_win32.h"

#include <commctrl.h>
#include <objbase.h>

#include "win32/help_win32.h"
#include "fs/fs.h"
#include "ui/drop_dialog.h"
#include "win32/drop_dialog_win32.h"

// Loading the settings never fails: an unreadable file gives the defaults.
// A file error while they are saved is shown by the window as it is destroyed.
void CDropApp::RunMainDialog(const ByteString& programDir) {
    CDropDlg dlg(programDir);
    RunDropDialog(instance_, dlg);
}

bool CDropApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
    // The folder browser is a shell COM object.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    // The settings and the logs live beside the program.  A folder whose name
    // has no code page 932 form cannot hold them; rather than write them
    // somewhere else, the program says so and ends.
    const ByteString programDir = ProgramDir();
    if (programDir.empty()) {
        MessageBoxW(nullptr, L"ﾌﾟﾛｸﾞﾗﾑのﾌｫﾙﾀﾞ名にｼﾌﾄJISで表せない文字があるため、起動できません。",
                    ProgramNameWide().c_str(), MB_OK | MB_ICONSTOP);
    } else {
        RunMainDialog(programDir);
    }

    if (SUCCEEDED(com)) CoUninitialize();
    return false;
}
