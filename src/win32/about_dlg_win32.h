#pragma once
// The About box (template 100), reached from the main dialog's system menu.
#include <windows.h>

class CAboutDlg {
public:
    // Runs the box modally, centred over owner and kept inside the work area,
    // until "OK", Enter, Esc or the close box.  It changes nothing.
    static void Run(HINSTANCE instance, HWND owner);

private:
    static INT_PTR CALLBACK Procedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
};

// Places window centred over owner (or over the work area when owner is
// hidden or minimized), moved inside the work area of owner's monitor where it
// would stick out.
void CentreOverOwner(HWND window, HWND owner);
