#include "win32/about_dlg_win32.h"

#include <algorithm>

#include "win32/help_win32.h"
#include "ui/drop_dialog.h"

namespace {

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

// The start of a span of the given length centred on [low, high), moved
// inside [areaLow, areaHigh) as far as it fits.
int CentredInside(int low, int high, int length, int areaLow, int areaHigh) {
    const int centred = low + (high - low - length) / 2;
    return std::max(areaLow, std::min(centred, areaHigh - length));
}

}  // namespace

void CentreOverOwner(HWND window, HWND owner) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    const HMONITOR handle = MonitorFromWindow(owner ? owner : window, MONITOR_DEFAULTTONEAREST);
    if (!GetMonitorInfoW(handle, &monitor)) return;
    const RECT& work = monitor.rcWork;

    RECT over = work;
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &over);

    RECT own{};
    GetWindowRect(window, &own);
    const int x = CentredInside(over.left, over.right, Width(own), work.left, work.right);
    const int y = CentredInside(over.top, over.bottom, Height(own), work.top, work.bottom);
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CAboutDlg::Run(HINSTANCE instance, HWND owner) {
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, &CAboutDlg::Procedure, 0);
}

INT_PTR CALLBACK CAboutDlg::Procedure(HWND box, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        CentreOverOwner(box, GetWindow(box, GW_OWNER));
        return TRUE;  // the focus goes to "OK"
    case WM_COMMAND:
        // "OK" and Enter send IDOK; Esc and the close box send IDCANCEL.
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(box, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    case WM_HELP:
        ShowHelpFor(box, IDD_ABOUTBOX);
        return TRUE;
    default:
        return FALSE;
    }
}
