#pragma once
// The Win32 window of the main dialog: a thin adapter that runs template 102,
// forwards the window's messages to CDropDlg and gives it the window's
// controls through DialogControls, converting code page 932 at this boundary.
#include <windows.h>

#include <string>
#include <vector>

#include "ui/drop_dialog.h"

class LaterStarts;

// Runs the main dialog modally over dlg (whose settings are loaded) with the
// templates and the icon of instance; returns when the dialog has been closed
// and destroyed, the settings saved.  The result is IDOK for "閉じる(&C)" and
// IDCANCEL for Esc or the close box.  startPaths (files given on the command
// line) are handled as a drop of them once the window is shown.  With
// laterStarts, later starts for the same data folder hand their files to
// the window, which comes to the front and handles them as a drop once it is
// free (after the running batch or undo, and those handed over before).
INT_PTR RunDropDialog(HINSTANCE instance, CDropDlg& dlg, std::vector<DroppedPath> startPaths = {},
                      LaterStarts* laterStarts = nullptr);

// A path as a drop delivers it: in code page 932, or, when some character has
// no code page 932 form, in its shown form ("?" for each such character)
// marked not convertible.
DroppedPath DroppedPathOfWide(const std::wstring& path);
