#pragma once
// The help key of both dialogs and the native names of the running program.
#include <windows.h>

#include <string>

// The executable's file name without extension: the caption of the
// framework's own message boxes.
std::wstring ProgramNameWide();

// Answers the help key (WM_HELP) of a dialog: F1 without Shift, Ctrl or Alt
// asks the help viewer for "<program>.HLP" beside the executable at the topic
// 0x20000 + templateId, and says so when the viewer cannot be started.
void ShowHelpFor(HWND dialog, int templateId);
