// Long batches in the real main dialog under Windows (or Wine): a second
// thread watches the window as the system does and acts on it meanwhile,
// as a user would.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "dialog_session.h"
#include "fs/fs.h"
#include "support/test_support.h"
#include "ui/drop_dialog.h"

using gui_testing::DialogSession;
using gui_testing::MakeDrop;
using gui_testing::SeenBox;
using gui_testing::Wide;
using testing_support::Exists;
using testing_support::MakeFolder;
using testing_support::NamesIn;
using testing_support::TempFolder;
using testing_support::WriteBytes;

namespace {

std::wstring W(const char8_t* utf8) { return Wide(Cp932(utf8)); }

constexpr UINT kFlags = SMTO_ABORTIFHUNG | SMTO_BLOCK;

// What a second thread sees of the window while a batch runs there: Windows'
// own check whether it responds (WM_NULL with a one-second timeout) and the
// title; once the counts have been seen growing for a while, it acts
// (midBatch) on its own thread.  It ends when the result box opens.
struct BatchWatch {
    HWND main = nullptr;
    std::function<void()> midBatch;
    std::function<void()> eachLook;  // on every round of the watch
    std::atomic<bool> resultShown{false};

    int pings = 0;
    int unanswered = 0;
    DWORD slowestMilliseconds = 0;
    std::set<std::wstring> titlesMidBatch;

    static DWORD WINAPI Run(void* self) {
        static_cast<BatchWatch*>(self)->Watch();
        return 0;
    }

    // Whether a call to the window was answered within a second, counted.
    bool Answered(UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result = nullptr) {
        DWORD_PTR ignored = 0;
        const DWORD sent = GetTickCount();
        const bool answered = SendMessageTimeoutW(main, message, wParam, lParam, kFlags, 1000, result ? result : &ignored);
        slowestMilliseconds = std::max(slowestMilliseconds, GetTickCount() - sent);
        unanswered += answered ? 0 : 1;
        return answered;
    }

private:
    void Watch() {
        bool acted = false;
        for (const DWORD start = GetTickCount(); !resultShown && GetTickCount() - start < 60000; Sleep(10)) {
            ++pings;
            Answered(WM_NULL, 0, 0);
            wchar_t text[128] = {};
            Answered(WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text));
            const std::wstring title = text;
            if (title.rfind(L"Tessarbolink  ", 0) == 0 && title != L"Tessarbolink  0 0 0") titlesMidBatch.insert(title);
            if (eachLook) eachLook();
            if (!acted && titlesMidBatch.size() >= 3 && pings >= 20 && midBatch) {
                acted = true;
                midBatch();
            }
        }
    }
};

class LongBatchGui : public ::testing::Test {
protected:
    // A dialog whose refresh clock runs speedup times as fast as the real one.
    CDropDlg& NewDialog(int64_t speedup = 1) {
        dialog = std::make_unique<CDropDlg>(programFolder.Path() + "\\", [] { return int64_t{1700000000}; },
                                            [speedup] { return static_cast<int64_t>(GetTickCount64()) * speedup; });
        return *dialog;
    }

    // folders of perFolder files each, named by their number; their paths.
    std::vector<std::wstring> MakeFiles(int folders, int perFolder) {
        std::vector<std::wstring> dropped;
        for (int f = 0; f < folders; ++f) {
            const ByteString folder = In(f);
            MakeFolder(folder);
            for (int i = 0; i < perFolder; ++i) WriteBytes(folder + "\\" + std::to_string(f * perFolder + i), "x");
            dropped.push_back(Wide(folder));
        }
        return dropped;
    }

    // Every file of MakeFiles whole at exactly one place, in its folder or
    // in the destination; the number in the destination.
    size_t ExpectEachFileOnce(int folders, int perFolder) {
        std::multiset<ByteString> seen;
        for (int f = 0; f < folders; ++f) {
            for (const ByteString& name : NamesIn(In(f))) seen.insert(name);
        }
        const std::vector<ByteString> placed = NamesIn(Dest());
        seen.insert(placed.begin(), placed.end());
        EXPECT_EQ(seen.size(), static_cast<size_t>(folders * perFolder));
        for (int n = 0; n < folders * perFolder; ++n) EXPECT_EQ(seen.count(std::to_string(n)), 1u) << n;
        return placed.size();
    }

    // Fills the controls for a move into work\dest under the files' own names.
    void MoveIntoDest(HWND main) {
        DialogSession::Type(main, IDC_WHERE, Wide(Dest() + "\\"));
        DialogSession::Type(main, IDC_FORMAT, W(u8"[ファイルタイトル]"));
        DialogSession::Click(main, IDC_MOVE);
    }

    // Drops the paths and runs the batch with the watch on a second thread,
    // answering only what it sends meanwhile; then handles what was left in
    // the queue, as the dialog's own loop would.
    void DropWatched(HWND main, const std::vector<std::wstring>& paths, BatchWatch& watch) {
        watch.main = main;
        const HANDLE watcher = CreateThread(nullptr, 0, &BatchWatch::Run, &watch, 0, nullptr);
        ASSERT_NE(watcher, nullptr);
        SendMessageW(main, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(paths)), 0);
        while (MsgWaitForMultipleObjects(1, &watcher, FALSE, 60000, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        CloseHandle(watcher);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageW(main, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }

    // The folders of a run: the source folders and the destination.
    ByteString In(int folder) const { return base + "\\in" + std::to_string(folder); }
    ByteString Dest() const { return base + "\\dest"; }

    TempFolder programFolder;
    TempFolder work;
    ByteString base = work.Path();  // where the folders of the run are
    std::unique_ptr<CDropDlg> dialog;
    DialogSession session;
};

// A batch of some thousand files runs inside the drop handler on the
// window's only thread, yet the window answers Windows' check at every
// moment, repaints and shows the counts as they grow.  Meanwhile a further
// drop is refused, keys and clicks given to the window are dropped (never
// replayed after the batch), and its close box asks nothing and stops the
// batch after the file it handles.
TEST_F(LongBatchGui, TheWindowAnswersDropsInputRefusesDropsAndItsCloseBoxStopsTheBatch) {
    // Wine reads a whole folder to find a name that is not there, so a
    // batch into one destination grows slow with its size: a few thousand
    // files make a batch of seconds.
    constexpr int kFolders = 30, kPerFolder = 100;
    const std::vector<std::wstring> dropped = MakeFiles(kFolders, kPerFolder);
    const ByteString late = work.Join("late");
    WriteBytes(late, "late");

    BatchWatch watch;
    bool repainted = false, lateDropAnswered = false;
    DWORD_PTR endSession = 1;
    std::wstring whereAfter, formatAfter, whereBefore, formatBefore;
    bool openAfter = false;
    session.onBox = [&](const SeenBox& box) {
        if (!box.yesNo) watch.resultShown = true;
    };
    const INT_PTR result = session.Run(NewDialog(), [&](HWND main) {
        MoveIntoDest(main);
        whereBefore = DialogSession::TextOf(GetDlgItem(main, IDC_WHERE));
        formatBefore = DialogSession::TextOf(GetDlgItem(main, IDC_FORMAT));
        watch.midBatch = [&] {
            RECT all{};
            GetClientRect(main, &all);
            InvalidateRect(main, &all, FALSE);
            for (DWORD asked = GetTickCount(); !repainted && GetTickCount() - asked < 1000; Sleep(5))
                repainted = !GetUpdateRect(main, nullptr, FALSE);
            lateDropAnswered = watch.Answered(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({Wide(late)})), 0);
            watch.Answered(WM_QUERYENDSESSION, 0, 0, &endSession);
            // Typing, a click on a format button and Esc, as the keyboard
            // and the mouse queue them.
            const HWND where = GetDlgItem(main, IDC_WHERE), date = GetDlgItem(main, IDC_DATE);
            PostMessageW(where, WM_KEYDOWN, 'X', 0);
            PostMessageW(where, WM_CHAR, L'x', 0);
            PostMessageW(date, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
            PostMessageW(date, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
            PostMessageW(where, WM_KEYDOWN, VK_ESCAPE, 0);
            PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
        };
        DropWatched(main, dropped, watch);
        whereAfter = DialogSession::TextOf(GetDlgItem(main, IDC_WHERE));
        formatAfter = DialogSession::TextOf(GetDlgItem(main, IDC_FORMAT));
        openAfter = IsWindowVisible(main);
        PostMessageW(GetDlgItem(main, IDC_CLOSE), WM_KEYDOWN, VK_ESCAPE, 0);
    });

    EXPECT_FALSE(session.timedOut);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_GT(watch.pings, 5);
    EXPECT_EQ(watch.unanswered, 0) << "slowest answer: " << watch.slowestMilliseconds << " ms";
    EXPECT_GE(watch.titlesMidBatch.size(), 3u) << "the counts are seen while they grow";
    EXPECT_TRUE(repainted);
    EXPECT_TRUE(lateDropAnswered);
    EXPECT_EQ(endSession, static_cast<DWORD_PTR>(FALSE)) << "the session may not end in the middle of a batch";
    EXPECT_EQ(whereAfter, whereBefore);
    EXPECT_EQ(formatAfter, formatBefore);
    EXPECT_TRUE(openAfter) << "neither Esc nor the close box closed the window after the batch";

    // One question, one result, of the part done; nothing else was asked.
    ASSERT_EQ(session.boxes.size(), 2u);
    EXPECT_EQ(session.boxes[0].text, W(u8"実行しますか？"));
    const size_t placed = ExpectEachFileOnce(kFolders, kPerFolder);
    EXPECT_GT(placed, 0u);
    EXPECT_LT(placed, static_cast<size_t>(kFolders * kPerFolder)) << "the close box stopped the batch";
    const std::wstring count = std::to_wstring(placed);
    EXPECT_EQ(session.boxes[1].text, W(u8"成功：") + count + W(u8"　失敗：0　トータル：") + count);
    EXPECT_TRUE(Exists(late)) << "the drop made during the batch was refused, not run after it";
}

// The progress window "処理中", owned by the main window, comes once the
// batch has run for a second, shows how far it got, and its 中止 button, Esc
// and its close box each stop the batch after the file it handles; it is
// gone before the result box opens.
TEST_F(LongBatchGui, TheProgressWindowShowsTheBatchAndItsButtonEscAndCloseBoxStopIt) {
    enum class Stop { Button, Escape, CloseBox };
    for (const Stop stop : {Stop::Button, Stop::Escape, Stop::CloseBox}) {
        SCOPED_TRACE(static_cast<int>(stop));
        base = work.Join("run" + std::to_string(static_cast<int>(stop)));
        MakeFolder(base);
        constexpr int kFiles = 600;
        const std::vector<std::wstring> dropped = MakeFiles(1, kFiles);
        DialogSession run;
        BatchWatch watch;
        HWND progress = nullptr;
        std::wstring caption, counts, button;
        LRESULT position = -1;
        bool goneBeforeResult = false;
        run.onBox = [&](const SeenBox& box) {
            if (box.yesNo) return;
            watch.resultShown = true;
            goneBeforeResult = progress && !IsWindow(progress);
        };
        run.Run(NewDialog(20), [&](HWND main) {  // the progress window comes after 50 ms
            MoveIntoDest(main);
            watch.midBatch = [&] {
                for (DWORD start = GetTickCount(); !progress && GetTickCount() - start < 5000; Sleep(5)) {
                    const HWND found = FindWindowExW(nullptr, nullptr, L"#32770", W(u8"処理中").c_str());
                    if (found && GetWindow(found, GW_OWNER) == main && IsWindowVisible(found)) progress = found;
                }
                if (!progress) return;
                caption = DialogSession::TextOf(progress);
                wchar_t text[128] = {};  // read at once: the window changes it meanwhile
                GetWindowTextW(GetDlgItem(progress, IDC_PROGRESS_COUNT), text, 128);
                counts = text;
                const HWND stopButton = GetDlgItem(progress, IDC_STOP);
                button = DialogSession::TextOf(stopButton);
                DWORD_PTR pos = 0;
                SendMessageTimeoutW(GetDlgItem(progress, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0, kFlags, 1000, &pos);
                position = static_cast<LRESULT>(pos);
                switch (stop) {
                case Stop::Button: PostMessageW(stopButton, BM_CLICK, 0, 0); break;
                case Stop::Escape: PostMessageW(GetFocus() ? GetFocus() : stopButton, WM_KEYDOWN, VK_ESCAPE, 0); break;
                case Stop::CloseBox: PostMessageW(progress, WM_SYSCOMMAND, SC_CLOSE, 0); break;
                }
            };
            DropWatched(main, dropped, watch);
            PostMessageW(GetDlgItem(main, IDC_CLOSE), WM_KEYDOWN, VK_ESCAPE, 0);
        });

        ASSERT_NE(progress, nullptr) << "no progress window came";
        EXPECT_EQ(caption, W(u8"処理中"));
        EXPECT_EQ(button, W(u8"中止"));
        EXPECT_NE(counts.find(L" / " + std::to_wstring(kFiles) + W(u8" ファイル")), std::wstring::npos) << counts;
        EXPECT_GE(position, 0);
        EXPECT_LE(position, 1000);
        EXPECT_TRUE(goneBeforeResult);
        EXPECT_EQ(watch.unanswered, 0);
        ASSERT_EQ(run.boxes.size(), 2u);
        const size_t placed = ExpectEachFileOnce(1, kFiles);
        EXPECT_LT(placed, static_cast<size_t>(kFiles)) << "stopped";
        const std::wstring count = std::to_wstring(placed);
        EXPECT_EQ(run.boxes[1].text, W(u8"成功：") + count + W(u8"　失敗：0　トータル：") + count);
    }
}

// Keys typed on the keyboard while a batch runs (here before any progress
// window, so they go to the main window) are gone before the result box
// opens: none is left to dismiss it the moment it appears.
TEST_F(LongBatchGui, KeysTypedDuringABatchAreGoneBeforeTheResultBoxOpens) {
    const std::vector<std::wstring> dropped = MakeFiles(10, 100);
    BatchWatch watch;
    DWORD inputAtResult = 0;
    bool typed = false;
    session.onBox = [&](const SeenBox& box) {
        if (box.yesNo) return;
        watch.resultShown = true;
        inputAtResult = HIWORD(GetQueueStatus(QS_KEY | QS_MOUSEBUTTON));
    };
    session.Run(NewDialog(), [&](HWND main) {
        MoveIntoDest(main);
        watch.midBatch = [&] {
            for (const WORD key : {WORD{'A'}, WORD{VK_ESCAPE}, WORD{VK_RETURN}}) {
                INPUT press[2] = {};
                press[0].type = press[1].type = INPUT_KEYBOARD;
                press[0].ki.wVk = press[1].ki.wVk = key;
                press[1].ki.dwFlags = KEYEVENTF_KEYUP;
                typed = SendInput(2, press, sizeof press[0]) == 2 || typed;
            }
        };
        SetForegroundWindow(main);
        DropWatched(main, dropped, watch);
        PostMessageW(GetDlgItem(main, IDC_CLOSE), WM_KEYDOWN, VK_ESCAPE, 0);
    });
    EXPECT_TRUE(typed);
    EXPECT_EQ(inputAtResult, 0u) << "keys waited for the result box";
    ASSERT_EQ(session.boxes.size(), 2u);
}

// The progress window of the main window, once it shows.
HWND ProgressWindowOf(HWND main) {
    const HWND found = FindWindowExW(nullptr, nullptr, L"#32770", W(u8"処理中").c_str());
    return found && GetWindow(found, GW_OWNER) == main && IsWindowVisible(found) ? found : nullptr;
}

// A file of this size that takes no room where the file system allows it.
void MakeSparseFile(const std::wstring& path, int64_t size) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD returned = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = size;
    EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
    CloseHandle(file);
}

// Moves of files of 2 GiB to another volume (copied, flushed as they go):
// the window answers Windows' check within a second at every moment, also in
// the middle of one file, and the progress window shows the file's bytes.
TEST_F(LongBatchGui, MovesOfFilesOf2GiBKeepTheWindowAnsweringAndShowTheirBytes) {
    constexpr int64_t kSize = int64_t{2} << 30;
    constexpr int kFiles = 2;
    // The copies land in memory where there is a tmpfs (Wine's Z:\dev\shm),
    // from sources that take no room: the disk is spared.
    ByteString target = work.Join("dest");
    if (const DWORD shm = GetFileAttributesW(L"Z:\\dev\\shm");
        shm != INVALID_FILE_ATTRIBUTES && (shm & FILE_ATTRIBUTE_DIRECTORY))
        target = "Z:\\dev\\shm\\tessarbolink-test-" + std::to_string(GetCurrentProcessId());
    struct Removed {
        const ByteString& folder;
        ~Removed() {
            for (const ByteString& name : NamesIn(folder)) DeleteFileW(Wide(folder + "\\" + name).c_str());
            RemoveDirectoryW(Wide(folder).c_str());
        }
    } removed{target};
    const ByteString in = work.Join("big");
    MakeFolder(in);
    for (int i = 0; i < kFiles; ++i) MakeSparseFile(Wide(in + "\\" + std::to_string(i) + ".bin"), kSize);

    BatchWatch watch;
    std::wstring bytesShown;
    session.onBox = [&](const SeenBox& box) {
        if (!box.yesNo) watch.resultShown = true;
    };
    watch.eachLook = [&] {
        const HWND progress = ProgressWindowOf(watch.main);
        wchar_t text[128] = {};
        if (progress && GetWindowTextW(GetDlgItem(progress, IDC_PROGRESS_BYTES), text, 128) > 0 && bytesShown.empty())
            bytesShown = text;
    };
    session.Run(NewDialog(), [&](HWND main) {
        DialogSession::Type(main, IDC_WHERE, Wide(target + "\\"));
        DialogSession::Type(main, IDC_FORMAT, W(u8"[ファイルタイトル].[拡張子]"));
        DialogSession::Click(main, IDC_MOVE);
        DropWatched(main, {Wide(in)}, watch);
        PostMessageW(GetDlgItem(main, IDC_CLOSE), WM_KEYDOWN, VK_ESCAPE, 0);
    });

    EXPECT_GT(watch.pings, 20) << "the moves took a while";
    std::cout << watch.pings << " pings, the slowest answered in " << watch.slowestMilliseconds << " ms\n";
    EXPECT_EQ(watch.unanswered, 0) << "slowest answer: " << watch.slowestMilliseconds << " ms";
    EXPECT_EQ(bytesShown.size() > 11 ? bytesShown.substr(bytesShown.size() - 11) : bytesShown, L" / 2,147 MB");
    ASSERT_EQ(session.boxes.size(), 2u);
    EXPECT_EQ(session.boxes[1].text, W(u8"成功：2　失敗：0　トータル：2"));
    EXPECT_EQ(NamesIn(target), (std::vector<ByteString>{"0.bin", "1.bin"}));
    EXPECT_EQ(FileSizeOf(target + "\\0.bin"), std::optional<int64_t>(kSize));
    EXPECT_TRUE(NamesIn(in).empty());
}

}  // namespace
