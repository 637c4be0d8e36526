#include "win32/drop_dialog_win32.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <deque>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "win32/about_dlg_win32.h"
#include "win32/help_win32.h"
#include "win32/taskbar_progress_win32.h"
#include "text/text_win32.h"
#include "ui/file_error_text.h"
#include "win32/window_handoff_win32.h"

namespace {

// ---------------------------------------------------------------------------
// Text at the boundary

// The UTF-16 form of a program text for display.  Bytes that are no valid
// code page 932 (a damaged settings file, say) are still shown, decoded
// leniently, rather than hidden.
std::wstring DisplayText(const ByteString& text) {
    std::wstring wide;
    if (Cp932ToWide(text, wide)) return wide;
    const int length = MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    wide.assign(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::wstring WindowTextOf(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length), L'\0');
    if (length > 0) {
        const int copied = GetWindowTextW(window, text.data(), length + 1);
        text.resize(static_cast<size_t>(copied));
    }
    return text;
}

// ---------------------------------------------------------------------------
// Shell services

// Every dropped path in the order given, of any length, then releases the
// drop.  A path with no code page 932 form is handed on marked as such, with
// "?" for the characters it lacks, so that the batch counts it as a failure.
std::vector<DroppedPath> ReadAndReleaseDrop(HDROP drop) {
    std::vector<DroppedPath> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    paths.reserve(count);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring wide(length, L'\0');
        DragQueryFileW(drop, i, wide.data(), length + 1);
        paths.push_back(DroppedPathOfWide(wide));
    }
    DragFinish(drop);
    return paths;
}

// The file-system path of a shell item, of any length where the shell allows
// it; empty when the item has none.
std::wstring PathOfItem(PCIDLIST_ABSOLUTE item) {
    using PathFromIdListEx = BOOL(WINAPI*)(PCIDLIST_ABSOLUTE, PWSTR, DWORD, GPFIDL_FLAGS);
    static const auto pathFromIdListEx = reinterpret_cast<PathFromIdListEx>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"shell32.dll"), "SHGetPathFromIDListEx")));
    std::wstring path;
    if (pathFromIdListEx) {
        path.assign(32768, L'\0');
        if (!pathFromIdListEx(item, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT)) return {};
    } else {
        path.assign(MAX_PATH, L'\0');
        if (!SHGetPathFromIDListW(item, path.data())) return {};
    }
    path.resize(wcslen(path.c_str()));
    return path;
}

// ---------------------------------------------------------------------------
// The window

// Posted to the window as it initializes when it has files from the command
// line: handled once the window is shown.
constexpr UINT kDropStartPaths = WM_APP + 1;
// Posted when files handed over by a later start wait to be handled.
constexpr UINT kRunHandedOver = WM_APP + 2;
// Looks again for a moment when the window is free for them.
constexpr UINT_PTR kHandedOverTimer = 1;

class DropDialogWindow final : public DialogControls {
public:
    DropDialogWindow(HINSTANCE instance, CDropDlg& dlg, std::vector<DroppedPath> startPaths,
                     LaterStarts* laterStarts)
        : instance_(instance), dlg_(dlg), startPaths_(std::move(startPaths)), laterStarts_(laterStarts) {}

    INT_PTR Run() {
        return DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_MAIN), nullptr, &Procedure,
                               reinterpret_cast<LPARAM>(this));
    }

    // DialogControls
    std::optional<ByteString> GetText(int id) override {
        ByteString text;
        if (!WideToCp932(WindowTextOf(Item(id)), text)) return std::nullopt;
        return text;
    }
    void SetText(int id, const ByteString& text) override { SetDlgItemTextW(window_, id, DisplayText(text).c_str()); }
    bool IsChecked(int id) override { return IsDlgButtonChecked(window_, id) == BST_CHECKED; }
    void SetChecked(int id, bool checked) override {
        CheckDlgButton(window_, id, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    void FocusAndSelectAll(int id) override {
        SetFocus(Item(id));
        SendDlgItemMessageW(window_, id, EM_SETSEL, 0, -1);
    }
    MessageResult ShowMessageBox(const ByteString& text, const ByteString& caption, MessageButtons buttons,
                                 MessageIcon icon) override;
    void SetWindowTitle(const ByteString& text) override { SetWindowTextW(window_, DisplayText(text).c_str()); }
    void RefreshDuringBatch() override;
    void ShowProgress(const ProgressView& view) override;
    void HideProgress() override;
    void EndDialog(int result) override {
        ended_ = true;
        ::EndDialog(window_, result);
    }
    std::optional<ByteString> BrowseForFolder(const ByteString& title) override;
    void RunAboutBox() override { CAboutDlg::Run(instance_, window_); }
    void EnableUndo(bool enabled) override;

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);

    // Runs the batch of a drop, or of the paths given at start.
    void RunDroppedBatch(const std::function<std::vector<DroppedPath>()>& readAndRelease);
    // Runs a batch or an undo, refusing further drops meanwhile.
    void RunWork(const std::function<void()>& work);
    // What the main window does with a message while a batch runs: true
    // when handled here, with the dialog procedure's result.
    bool HandledDuringBatch(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
    // A key or click given to the main window or one of its controls,
    // dropped while a batch runs.
    bool IsInputToMainWindow(const MSG& message) const;
    // Drops every key and click still queued, so that a box opening now is
    // answered only by what the user gives it.
    static void DropPendingInput();
    static INT_PTR CALLBACK ProgressProcedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam);

    void OnInitDialog();
    void AddAboutItemToSystemMenu();
    // Ctrl+Z outside the text fields, seen in the dialog's own loop.
    static LRESULT CALLBACK UndoKeyHook(int code, WPARAM wParam, LPARAM lParam);
    void SetIcons();
    bool PaintMinimized();
    void ShowUnexpectedError(const ByteString& text);
    // A later start's files: true when taken.
    bool TakeHandedOver(const std::vector<std::wstring>& files);
    void RunHandedOver();

    HWND Item(int id) const { return GetDlgItem(window_, id); }

    HINSTANCE instance_;
    CDropDlg& dlg_;
    std::vector<DroppedPath> startPaths_;
    LaterStarts* laterStarts_;
    // Files of later starts waiting for the window, in the order they came.
    std::deque<std::vector<DroppedPath>> handedOver_;
    bool ended_ = false;  // closing: no more files are taken
    HWND window_ = nullptr;
    HICON icon_ = nullptr;
    HHOOK undoKeyHook_ = nullptr;
    // The window whose loop the hook of this thread serves.
    static thread_local DropDialogWindow* hooked_;

    // From a drop until its batch has finished.
    bool batchRunning_ = false;
    // The progress window while it is shown, and what it shows.
    HWND progress_ = nullptr;
    ProgressView shown_;
    // Files handed over by a later start during the batch: run after it.
    std::vector<MSG> heldBack_;
    TaskbarProgress taskbar_;
};

thread_local DropDialogWindow* DropDialogWindow::hooked_ = nullptr;

INT_PTR CALLBACK DropDialogWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<DropDialogWindow*>(lParam);
        self->window_ = window;
        SetWindowLongPtrW(window, DWLP_USER, lParam);
    }
    auto* self = reinterpret_cast<DropDialogWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!self) return FALSE;  // messages before WM_INITDIALOG
    // No exception may cross back into the system's code; the core turns the
    // file errors it expects into their message itself.
    try {
        return self->Handle(message, wParam, lParam);
    } catch (const FileError& error) {
        self->ShowUnexpectedError(FileErrorMessage(error));
    } catch (const std::exception&) {
        self->ShowUnexpectedError(Cp932(u8"処理中に予期しないｴﾗｰが発生しました。"));
    }
    return TRUE;
}

INT_PTR DropDialogWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR result = FALSE;
    if (batchRunning_ && HandledDuringBatch(message, wParam, lParam, result)) return result;
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        return TRUE;  // the focus goes to the first tab stop, "閉じる(&C)"
    case WM_DROPFILES: {
        const HDROP drop = reinterpret_cast<HDROP>(wParam);
        RunDroppedBatch([drop] { return ReadAndReleaseDrop(drop); });
        return TRUE;
    }
    case kDropStartPaths:
        // The window is visible by now; let it be drawn before the question.
        UpdateWindow(window_);
        RunDroppedBatch([this] { return std::exchange(startPaths_, {}); });
        return TRUE;
    case WM_COPYDATA: {
        const std::optional<std::vector<std::wstring>> files =
            HandedOverFiles(*reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        if (!files) return FALSE;
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, TakeHandedOver(*files) ? TRUE : FALSE);
        return TRUE;
    }
    case kRunHandedOver:
        RunHandedOver();
        return TRUE;
    case WM_TIMER:
        if (wParam != kHandedOverTimer) return FALSE;
        KillTimer(window_, kHandedOverTimer);
        RunHandedOver();
        return TRUE;
    case WM_COMMAND:
        // Buttons, and IDOK / IDCANCEL from Enter, Esc and the close box.
        if (HIWORD(wParam) != BN_CLICKED) return FALSE;
        dlg_.OnCommand(LOWORD(wParam));
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_UNDO) {
            RunWork([this, wParam] { dlg_.OnSysCommand(static_cast<unsigned>(wParam)); });
            return TRUE;
        }
        return dlg_.OnSysCommand(static_cast<unsigned>(wParam)) ? TRUE : FALSE;
    case WM_PAINT:
        return PaintMinimized() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(icon_);
    case WM_HELP:
        ShowHelpFor(window_, IDD_MAIN);
        return TRUE;
    case WM_DESTROY:
        if (undoKeyHook_) UnhookWindowsHookEx(undoKeyHook_);
        undoKeyHook_ = nullptr;
        hooked_ = nullptr;
        dlg_.OnDestroy();
        return FALSE;  // the platform's own handling goes on
    default:
        return FALSE;
    }
}

// ---------------------------------------------------------------------------
// The batch

void DropDialogWindow::RunDroppedBatch(const std::function<std::vector<DroppedPath>()>& readAndRelease) {
    RunWork([&] { dlg_.OnDropFiles(readAndRelease); });
}

void DropDialogWindow::RunWork(const std::function<void()>& work) {
    struct Running {
        DropDialogWindow& window;
        ~Running() {
            window.batchRunning_ = false;
            DragAcceptFiles(window.window_, TRUE);
            // Files handed over meanwhile come through the dialog's own loop.
            for (const MSG& held : window.heldBack_) PostMessageW(held.hwnd, held.message, held.wParam, held.lParam);
            window.heldBack_.clear();
        }
    };
    batchRunning_ = true;
    DragAcceptFiles(window_, FALSE);  // the cursor says no to further drops
    const Running running{*this};
    work();
}

// The batch runs inside the drop handler, on the window's only thread.  Here
// the window repaints and answers what the system and other programs send it
// (their check whether it still responds among them), and the progress
// window takes its input; keys and clicks given to the main window are
// dropped.  A window that keeps asking to be painted, or a flood of posted
// messages, cannot hold the batch up.
void DropDialogWindow::RefreshDuringBatch() {
    constexpr int kMostMessages = 64;
    MSG message;
    // PeekMessage itself delivers the messages sent to this thread.
    for (int i = 0; i < kMostMessages && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE);
         ++i) {
        DispatchMessageW(&message);
    }
    for (int i = 0; i < kMostMessages && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));  // for the dialog's own loop
            break;
        }
        if (IsInputToMainWindow(message)) continue;
        if (progress_ && IsDialogMessageW(progress_, &message)) continue;  // 中止, Esc, Tab
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool DropDialogWindow::IsInputToMainWindow(const MSG& message) const {
    if (!message.hwnd || (message.hwnd != window_ && !IsChild(window_, message.hwnd))) return false;
    const UINT m = message.message;
    if ((m >= WM_KEYFIRST && m <= WM_KEYLAST) || (m >= WM_MOUSEFIRST && m <= WM_MOUSELAST)) return true;
    if (m < WM_NCMOUSEMOVE || m > WM_NCXBUTTONDBLCLK) return false;
    // The window can still be moved by its caption, and its close box stops the batch.
    return m != WM_NCMOUSEMOVE && m != WM_NCLBUTTONUP &&
           !(m == WM_NCLBUTTONDOWN && (message.wParam == HTCAPTION || message.wParam == HTCLOSE));
}

void DropDialogWindow::DropPendingInput() {
    constexpr int kMostMessages = 4096;
    MSG message;
    for (const auto& [first, last] : {std::pair<UINT, UINT>{WM_KEYFIRST, WM_KEYLAST},
                                      {WM_MOUSEFIRST, WM_MOUSELAST},
                                      {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK}}) {
        for (int i = 0; i < kMostMessages && PeekMessageW(&message, nullptr, first, last, PM_REMOVE); ++i) {
        }
    }
}

// While a batch runs, only its own windows take user input: the progress
// window and the message boxes.  What still reaches the main window (sent by
// another program, or passed on by a message box's loop) is dropped, so
// nothing is replayed once the batch has ended; closing the window stops the
// batch instead, and so does the end of the session, which is refused.
bool DropDialogWindow::HandledDuringBatch(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    result = TRUE;
    switch (message) {
    case WM_MOUSEACTIVATE: {
        // A click leaves the keyboard with the progress window; the caption
        // and the close box still take theirs.
        const WORD hit = LOWORD(lParam);
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, hit == HTCAPTION || hit == HTCLOSE ? MA_NOACTIVATE : MA_NOACTIVATEANDEAT);
        return true;
    }
    case WM_DROPFILES:
        DragFinish(reinterpret_cast<HDROP>(wParam));
        return true;
    case WM_COMMAND:
        return HIWORD(wParam) == BN_CLICKED;  // a control's other notices are its own business
    case WM_HELP:  // F1, also passed on by the progress window: no help box in the middle of a batch
        return true;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE: dlg_.RequestStop(); return true;
        case SC_MOVE:
        case SC_MINIMIZE:
        case SC_RESTORE: result = FALSE; return true;  // the platform's own handling
        default: return true;
        }
    case WM_CLOSE:
        dlg_.RequestStop();
        return true;
    case WM_TIMER:  // the look again for handed-over files: after the batch
        if (wParam != kHandedOverTimer) return false;
        KillTimer(window_, kHandedOverTimer);
        heldBack_.push_back(MSG{window_, kRunHandedOver, 0, 0, 0, {}});
        return true;
    case kRunHandedOver:  // files a later start handed over: run after the batch
        heldBack_.push_back(MSG{window_, message, wParam, lParam, 0, {}});
        return true;
    case WM_QUERYENDSESSION:
        dlg_.RequestStop();
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, FALSE);
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// The progress window

void DropDialogWindow::ShowProgress(const ProgressView& view) {
    if (!progress_) {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        progress_ = CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_PROGRESS), window_, &ProgressProcedure,
                                       reinterpret_cast<LPARAM>(this));
        if (!progress_) return;
        SendDlgItemMessageW(progress_, IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, 1000);
        CentreOverOwner(progress_, window_);
        shown_ = ProgressView{};
        shown_.permille = -1;
        ShowWindow(progress_, SW_SHOW);
    }
    // Only what changed is touched: a label set again flickers.
    const auto setText = [this](int id, const ByteString& text, ByteString& shown) {
        if (text == shown) return;
        shown = text;
        SetDlgItemTextW(progress_, id, DisplayText(text).c_str());
    };
    setText(IDC_PROGRESS_FILE, view.file, shown_.file);
    setText(IDC_PROGRESS_COUNT, view.counts, shown_.counts);
    setText(IDC_PROGRESS_BYTES, view.bytes, shown_.bytes);
    if (view.permille != shown_.permille) {
        shown_.permille = view.permille;
        SendDlgItemMessageW(progress_, IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(view.permille), 0);
    }
    if (view.stopping != shown_.stopping) {
        shown_.stopping = view.stopping;
        EnableWindow(GetDlgItem(progress_, IDC_STOP), !view.stopping);
    }
    taskbar_.Show(window_, view.permille, view.failed);
}

void DropDialogWindow::HideProgress() {
    if (progress_) DestroyWindow(progress_);  // the main window is active again
    progress_ = nullptr;
    taskbar_.Clear(window_);
}

// "中止", Esc and the close box all send IDCANCEL.
INT_PTR CALLBACK DropDialogWindow::ProgressProcedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(box, DWLP_USER, lParam);
        return TRUE;  // the focus goes to "中止"
    }
    auto* self = reinterpret_cast<DropDialogWindow*>(GetWindowLongPtrW(box, DWLP_USER));
    if (self && message == WM_COMMAND && LOWORD(wParam) == IDC_STOP) {
        self->dlg_.RequestStop();
        return TRUE;
    }
    return FALSE;
}

// ---------------------------------------------------------------------------
// Initialization and painting

// The settings are pushed first; the window's own set-up follows, before the
// counts are reset and the random numbers seeded.
void DropDialogWindow::OnInitDialog() {
    dlg_.Attach(*this);
    dlg_.OnInitDialog([this] {
        AddAboutItemToSystemMenu();
        SetIcons();
        DragAcceptFiles(window_, TRUE);
    });
    hooked_ = this;
    undoKeyHook_ = SetWindowsHookExW(WH_MSGFILTER, &UndoKeyHook, nullptr, GetCurrentThreadId());
    if (!startPaths_.empty()) PostMessageW(window_, kDropStartPaths, 0, 0);
    if (laterStarts_) laterStarts_->WindowIsUp(window_);
}

// ---------------------------------------------------------------------------
// Files of later starts

bool DropDialogWindow::TakeHandedOver(const std::vector<std::wstring>& files) {
    if (ended_) return false;
    // To the front; while a box of the window is open, the box.
    if (IsIconic(window_)) ShowWindow(window_, SW_RESTORE);
    SetForegroundWindow(GetLastActivePopup(window_));
    if (files.empty()) return true;
    std::vector<DroppedPath> paths;
    for (const std::wstring& file : files) paths.push_back(DroppedPathOfWide(file));
    handedOver_.push_back(std::move(paths));
    PostMessageW(window_, kRunHandedOver, 0, 0);
    return true;
}

// Held back while a batch runs; while the About box or another box of the
// window is open, it looks again in a moment.
void DropDialogWindow::RunHandedOver() {
    if (handedOver_.empty() || ended_) return;
    if (!IsWindowEnabled(window_)) {
        SetTimer(window_, kHandedOverTimer, 100, nullptr);
        return;
    }
    std::vector<DroppedPath> paths = std::move(handedOver_.front());
    handedOver_.pop_front();
    if (!handedOver_.empty()) PostMessageW(window_, kRunHandedOver, 0, 0);
    RunDroppedBatch([&paths] { return paths; });
}

void DropDialogWindow::SetIcons() {
    const auto load = [this](int widthMetric, int heightMetric) {
        return static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                             GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric),
                                             LR_SHARED));
    };
    icon_ = load(SM_CXICON, SM_CYICON);
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(load(SM_CXSMICON, SM_CYSMICON)));
}

void DropDialogWindow::AddAboutItemToSystemMenu() {
    const HMENU menu = GetSystemMenu(window_, FALSE);
    if (!menu) return;
    const wchar_t* text = nullptr;
    const int length = LoadStringW(instance_, IDS_ABOUTBOX, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0) return;
    const std::wstring item(text, static_cast<size_t>(length));
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, item.c_str());
    AppendMenuW(menu, MF_STRING | MF_GRAYED, IDM_UNDO, DisplayText(CDropDlg::UndoMenuText()).c_str());
}

void DropDialogWindow::EnableUndo(bool enabled) {
    const HMENU menu = GetSystemMenu(window_, FALSE);
    if (menu) EnableMenuItem(menu, IDM_UNDO, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

// Ctrl+Z pressed in the main window, but not in one of its text fields
// (there it undoes the typing), becomes the undo item's command; posted, so
// that it waits like the item while a batch runs.
LRESULT CALLBACK DropDialogWindow::UndoKeyHook(int code, WPARAM wParam, LPARAM lParam) {
    const auto* message = reinterpret_cast<const MSG*>(lParam);
    DropDialogWindow* self = hooked_;
    if (code == MSGF_DIALOGBOX && self && message->message == WM_KEYDOWN && message->wParam == 'Z' &&
        GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0 &&
        (message->hwnd == self->window_ || IsChild(self->window_, message->hwnd))) {
        wchar_t className[16] = {};
        GetClassNameW(message->hwnd, className, 16);
        if (_wcsicmp(className, L"Edit") != 0) {
            PostMessageW(self->window_, WM_SYSCOMMAND, IDM_UNDO, 0);
            return 1;  // the key goes no further
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Draws the icon centred in the client area while the window is minimized;
// false when the platform is to paint.
bool DropDialogWindow::PaintMinimized() {
    if (!IsIconic(window_)) return false;
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window_, &paint);
    SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(window_, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(window_, &paint);
    return true;
}

MessageResult DropDialogWindow::ShowMessageBox(const ByteString& text, const ByteString& caption,
                                               MessageButtons buttons, MessageIcon icon) {
    // Keys and clicks given during the batch go before the box appears: only
    // the user, having seen it, answers it.
    if (batchRunning_) DropPendingInput();
    UINT style = buttons == MessageButtons::YesNo ? MB_YESNO | MB_DEFBUTTON1 : MB_OK;
    if (icon == MessageIcon::Exclamation) style |= MB_ICONEXCLAMATION;
    if (icon == MessageIcon::Stop) style |= MB_ICONSTOP;
    const int answer = MessageBoxW(window_, DisplayText(text).c_str(), DisplayText(caption).c_str(), style);
    if (buttons == MessageButtons::Ok) return MessageResult::Ok;
    return answer == IDYES ? MessageResult::Yes : MessageResult::No;
}

std::optional<ByteString> DropDialogWindow::BrowseForFolder(const ByteString& title) {
    const std::wstring wideTitle = DisplayText(title);
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW info{};
    info.hwndOwner = nullptr;  // no owner: the main window stays usable
    info.pidlRoot = nullptr;   // the desktop
    info.pszDisplayName = displayName;
    info.lpszTitle = wideTitle.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    const PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (!chosen) return std::nullopt;
    const std::wstring path = PathOfItem(chosen);
    CoTaskMemFree(chosen);
    // Like a typed destination: a character without a code page 932 form
    // becomes "?", and the batch then fails visibly on it.
    return WideToCp932Shown(path);
}

void DropDialogWindow::ShowUnexpectedError(const ByteString& text) {
    MessageBoxW(window_, DisplayText(text).c_str(), ProgramNameWide().c_str(), MB_OK | MB_ICONSTOP);
}

}  // namespace

INT_PTR RunDropDialog(HINSTANCE instance, CDropDlg& dlg, std::vector<DroppedPath> startPaths,
                      LaterStarts* laterStarts) {
    DropDialogWindow window(instance, dlg, std::move(startPaths), laterStarts);
    return window.Run();
}

DroppedPath DroppedPathOfWide(const std::wstring& path) {
    DroppedPath dropped;
    if (!WideToCp932(path, dropped.path)) {
        dropped.path = WideToCp932Shown(path);
        dropped.convertible = false;
    }
    return dropped;
}
