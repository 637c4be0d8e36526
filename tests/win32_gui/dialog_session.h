#pragma once
// Runs the real main dialog in the test process and plays the user: a script
// runs inside the dialog's own message loop once the window is up, and every
// message box or About box that opens is recorded and answered at once (the
// progress window of a long batch is left to the script).
#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>
#include <vector>

#include "ui/drop_dialog.h"

namespace gui_testing {

struct SeenBox {
    HWND owner = nullptr;
    std::wstring caption;
    std::wstring text;  // the box's message (empty for the About box)
    bool yesNo = false; // has Yes and No buttons
    HICON icon = nullptr; // the icon shown beside the message, if any
    RECT rect{};        // where it was shown
};

class DialogSession {
public:
    // Answers for the boxes in the order they open (IDYES, IDNO, IDOK);
    // when they run out, Yes or OK.
    std::vector<int> answers;
    std::vector<SeenBox> boxes;
    // Called as each box opens, before it is answered.
    std::function<void(const SeenBox&)> onBox;

    // Runs the dialog over dlg; script gets the dialog's window once it is up
    // and must end by closing it (a watchdog closes it, failing the test,
    // after 30 s).  Returns the dialog's result.
    INT_PTR Run(CDropDlg& dlg, const std::function<void(HWND)>& script);

    // The control of the main dialog as the user would use it.
    static void Click(HWND dialog, int id);
    static void Type(HWND dialog, int id, const std::wstring& text);
    static std::wstring TextOf(HWND window);

    bool timedOut = false;

private:
    static LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK StartScript(HWND, UINT, UINT_PTR timer, DWORD);
    static void CALLBACK Watchdog(HWND, UINT, UINT_PTR timer, DWORD);
    void Answer(HWND box);

    std::function<void(HWND)> script_;
    HWND main_ = nullptr;
    size_t nextAnswer_ = 0;
};

// A drop as the shell builds it: DROPFILES followed by the NUL-separated wide
// paths and a final NUL.  The receiver releases it with DragFinish.
HDROP MakeDrop(const std::vector<std::wstring>& paths);

// The UTF-16 form of a code page 932 path or text (the test's own, always valid).
std::wstring Wide(const ByteString& text);

}  // namespace gui_testing
