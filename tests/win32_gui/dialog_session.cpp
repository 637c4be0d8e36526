#include "dialog_session.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include "text/text_win32.h"
#include "win32/drop_dialog_win32.h"

namespace gui_testing {

namespace {

DialogSession* g_session = nullptr;  // the dialog runs on this thread, one at a time
constexpr UINT kWatchdogMilliseconds = 30000;

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// The message of a message box: its non-empty static text.
std::wstring MessageOf(HWND box) {
    std::wstring found;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        if (ClassOf(child) == L"Static" && (style & SS_TYPEMASK) != SS_ICON) {
            const std::wstring text = DialogSession::TextOf(child);
            if (!text.empty()) found = text;
        }
    }
    return found;
}

// The icon of a message box: its visible icon static's image.
HICON IconOf(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        if (ClassOf(child) == L"Static" && (style & SS_TYPEMASK) == SS_ICON && (style & WS_VISIBLE)) {
            return reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        }
    }
    return nullptr;
}

}  // namespace

INT_PTR DialogSession::Run(CDropDlg& dlg, const std::function<void(HWND)>& script) {
    script_ = script;
    g_session = this;
    const HHOOK hook = SetWindowsHookExW(WH_CBT, &CbtHook, nullptr, GetCurrentThreadId());
    const UINT_PTR start = SetTimer(nullptr, 0, 1, &StartScript);
    const UINT_PTR watchdog = SetTimer(nullptr, 0, kWatchdogMilliseconds, &Watchdog);
    const INT_PTR result = RunDropDialog(GetModuleHandleW(nullptr), dlg);
    KillTimer(nullptr, start);
    KillTimer(nullptr, watchdog);
    UnhookWindowsHookEx(hook);
    g_session = nullptr;
    return result;
}

LRESULT CALLBACK DialogSession::CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && g_session) {
        const HWND window = reinterpret_cast<HWND>(wParam);
        if (ClassOf(window) == L"#32770") {
            if (!g_session->main_ && !GetWindow(window, GW_OWNER)) {
                g_session->main_ = window;
            } else if (window != g_session->main_ && !GetDlgItem(window, IDC_PROGRESS_BAR)) {
                // A box to answer; the progress window is the test's own business.
                g_session->Answer(window);
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void DialogSession::Answer(HWND box) {
    SeenBox seen;
    seen.owner = GetWindow(box, GW_OWNER);
    seen.caption = TextOf(box);
    seen.text = MessageOf(box);
    seen.yesNo = GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO);
    seen.icon = IconOf(box);
    GetWindowRect(box, &seen.rect);
    boxes.push_back(seen);
    if (onBox) onBox(seen);

    int answer = seen.yesNo ? IDYES : IDOK;
    if (nextAnswer_ < answers.size()) answer = answers[nextAnswer_++];
    // Posted, so that the box's own loop ends it once it is running.
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
}

void CALLBACK DialogSession::StartScript(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    DialogSession* self = g_session;
    if (!self || !self->main_) {
        ADD_FAILURE() << "the main dialog did not come up";
        return;
    }
    self->script_(self->main_);
}

void CALLBACK DialogSession::Watchdog(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (!g_session || !g_session->main_) return;
    g_session->timedOut = true;
    ADD_FAILURE() << "the dialog was still open after " << kWatchdogMilliseconds << " ms";
    EndDialog(g_session->main_, -1);
}

void DialogSession::Click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void DialogSession::Type(HWND dialog, int id, const std::wstring& text) {
    SetDlgItemTextW(dialog, id, text.c_str());
}

std::wstring DialogSession::TextOf(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

HDROP MakeDrop(const std::vector<std::wstring>& paths) {
    size_t characters = 1;  // the final NUL
    for (const auto& path : paths) characters += path.size() + 1;
    const HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + characters * sizeof(wchar_t));
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->pt = {20, 20};
    header->fNC = FALSE;
    header->fWide = TRUE;
    auto* out = reinterpret_cast<wchar_t*>(reinterpret_cast<BYTE*>(header) + sizeof(DROPFILES));
    for (const auto& path : paths) {
        out = std::copy(path.begin(), path.end(), out);
        *out++ = L'\0';
    }
    *out = L'\0';
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

std::wstring Wide(const ByteString& text) {
    std::wstring wide;
    if (!Cp932ToWide(text, wide)) ADD_FAILURE() << "no UTF-16 form: " << text;
    return wide;
}

}  // namespace gui_testing
