#pragma once
// One window per data folder (per user and session).  A later start of the
// program for the same data folder opens no window of its own: it hands the
// files of its command line to the window already open, which comes to the
// front and handles them as a drop once it is free, and ends.
//
// The window's process owns a named mutex, named after the user and the
// data folder's identity in the session's namespace ("Local\"), for its
// whole life; a named shared block beside it tells later starts which window
// takes their files.  A mutex is never left behind: when its owner ends, even
// killed, the next start acquires it and becomes the window.  Of two starts
// at the same moment, exactly one acquires it.
#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "text/byte_string.h"

// The window's end, held by its process for as long as it runs.
class LaterStarts {
public:
    struct Shared;
    LaterStarts(HANDLE mutex, HANDLE block, Shared* shared);
    ~LaterStarts();
    LaterStarts(const LaterStarts&) = delete;
    LaterStarts& operator=(const LaterStarts&) = delete;

    // The window is up: later starts hand their files to it (WM_COPYDATA).
    void WindowIsUp(HWND window);

private:
    HANDLE mutex_;
    HANDLE block_;
    Shared* shared_;
};

struct WindowClaim {
    // The files went to the window already open: this start ends here.
    bool handedOver = false;
    // This process is the window for the data folder; null when it is not
    // (handed over, or no window could be claimed: then it opens its own
    // window all the same, as without this).
    std::unique_ptr<LaterStarts> laterStarts;
};

// Decided at start, before anything is shown: this process becomes the
// window for dataFolder, or it hands files (the whole paths of its command
// line, not yet converted) to the window open for dataFolder and waits until
// that window has taken them.  A window that ends before it took them is
// replaced by this one.
WindowClaim ClaimWindow(const ByteString& dataFolder, const std::vector<std::wstring>& files);

// The files a later start handed over in a WM_COPYDATA message; nullopt when
// the message is no such hand-over.
std::optional<std::vector<std::wstring>> HandedOverFiles(const COPYDATASTRUCT& data);
