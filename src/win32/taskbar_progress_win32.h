#pragma once
// The progress of a long batch on the window's taskbar button
// (ITaskbarList3): green while it goes well, red once a file failed.
#include <windows.h>

struct ITaskbarList3;

class TaskbarProgress {
public:
    TaskbarProgress() = default;
    ~TaskbarProgress();
    TaskbarProgress(const TaskbarProgress&) = delete;
    TaskbarProgress& operator=(const TaskbarProgress&) = delete;

    // Shows the bar at permille thousandths on window's button, in the error
    // state when failed (each told to the taskbar only when it changed).
    void Show(HWND window, int permille, bool failed);
    // Takes the bar away again.
    void Clear(HWND window);

private:
    // The taskbar, asked for when the first bar is shown; nullptr where
    // there is none (no shell, COM not set up on this thread).
    ITaskbarList3* List();

    ITaskbarList3* list_ = nullptr;
    bool tried_ = false;
    int shownPermille_ = -1;  // -1: no bar shown
    bool shownFailed_ = false;
};
