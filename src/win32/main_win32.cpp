// The Windows program's entry point.
#include <windows.h>

#include "win32/dll_search_win32.h"
#include "win32/drop_app_win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    LoadDllsOnlyFromTheSystemFolder();
    CDropApp app(instance);
    app.InitInstance();
    return app.ExitCode();
}
