// The Windows program's entry point.
#include <windows.h>

#include "win32/drop_app_win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    CDropApp app(instance);
    app.InitInstance();
    return app.ExitCode();
}
