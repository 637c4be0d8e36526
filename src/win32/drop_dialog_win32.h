#pragma once
// The Win32 window of the main dialog: a thin adapter that runs template 102,
// forwards the window's messages to CDropDlg and gives it the window's
// controls through DialogControls, converting code page 932 at this boundary.
#include <windows.h>

#include "ui/drop_dialog.h"

// Runs the main dialog modally over dlg (whose settings are loaded) with the
// templates and the icon of instance; returns when the dialog has been closed
// and destroyed, the settings saved.  The result is IDOK for "閉じる(&C)" and
// IDCANCEL for Esc or the close box.
INT_PTR RunDropDialog(HINSTANCE instance, CDropDlg& dlg);
