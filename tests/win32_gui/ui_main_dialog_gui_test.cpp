// The real main dialog under Windows (or Wine): resources, drops delivered as
// the shell delivers them, message boxes answered by the test, and the files,
// logs, title and settings file that result.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "dialog_session.h"
#include "fs/fs.h"
#include "support/fs_seams.h"
#include "settings/settings_file.h"
#include "support/test_support.h"
#include "ui/control_table.h"
#include "batch/journal.h"
#include "ui/drop_dialog.h"

using gui_testing::DialogSession;
using gui_testing::MakeDrop;
using gui_testing::SeenBox;
using gui_testing::Wide;
using testing_support::Exists;
using testing_support::MakeFolder;
using testing_support::NamesIn;
using testing_support::ReadBytes;
using testing_support::TempFolder;
using testing_support::WriteBytes;

namespace {

constexpr int64_t kNow = 1700000000;

std::wstring W(const char8_t* utf8) { return Wide(Cp932(utf8)); }

class MainDialogGui : public ::testing::Test {
protected:
    void TearDown() override { testing_support::SetShortWritesAfter(-1); }

    // The program's folder as the program passes it, with its separator.
    ByteString ProgramDirPath() const { return programFolder.Path() + "\\"; }

    CDropDlg& NewDialog() {
        dialog = std::make_unique<CDropDlg>(ProgramDirPath(), [] { return kNow; });
        return *dialog;
    }

    DropSettings SavedSettings() const { return LoadSettings(ProgramDirPath()); }

    TempFolder programFolder;
    TempFolder work;
    std::unique_ptr<CDropDlg> dialog;
    DialogSession session;
};

// The window built from template 102 is the layout table, control by control,
// in tab order, with the texts compiled right (where each control sits and of
// which class is the resource script's test); it starts with the focus on
// "閉じる(&C)", the About item in the system menu and the application icon.
TEST_F(MainDialogGui, WindowIsBuiltAsTheLayoutTableSays) {
    const INT_PTR result = session.Run(NewDialog(), [&](HWND main) {
        EXPECT_EQ(DialogSession::TextOf(main), W(kMainDialogLayout.caption));
        EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDOK);

        size_t index = 0;
        for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT), ++index) {
            ASSERT_LT(index, kMainDialogLayout.controls.size());
            const ControlLayout& entry = kMainDialogLayout.controls[index];
            SCOPED_TRACE("control " + std::to_string(index) + ", id " + std::to_string(entry.id));
            const LONG style = GetWindowLongW(child, GWL_STYLE);
            EXPECT_EQ(static_cast<int>(static_cast<short>(GetDlgCtrlID(child))), entry.id);
            // The button control itself moves the tab stop to the checked radio button.
            if (entry.kind != ControlKind::Radio) {
                EXPECT_EQ((style & WS_TABSTOP) != 0, entry.tabStop);
            }
            EXPECT_EQ((style & WS_GROUP) != 0, entry.group);
            EXPECT_TRUE(IsWindowEnabled(child) && IsWindowVisible(child));
            if (entry.text) {
                EXPECT_EQ(DialogSession::TextOf(child), W(entry.text));
            }
        }
        EXPECT_EQ(index, kMainDialogLayout.controls.size());

        wchar_t item[128] = {};
        GetMenuStringW(GetSystemMenu(main, FALSE), IDM_ABOUTBOX, item, 128, MF_BYCOMMAND);
        EXPECT_EQ(std::wstring(item), W(u8"Tessarbolink のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
        EXPECT_NE(SendMessageW(main, WM_GETICON, ICON_BIG, 0), 0);
        EXPECT_NE(SendMessageW(main, WM_GETICON, ICON_SMALL, 0), 0);
        EXPECT_EQ(SendMessageW(main, WM_QUERYDRAGICON, 0, 0), SendMessageW(main, WM_GETICON, ICON_BIG, 0));
        EXPECT_NE(GetWindowLongW(main, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);

        // Esc closes without a pull.
        PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(session.boxes.empty());
}

// The whole road of a drop: controls edited, a file and a folder dropped, the
// confirmation answered, files moved under their new names, counts in the
// title, the change log written; "閉じる(&C)" saves what the controls show.
TEST_F(MainDialogGui, DropMovesFilesUnderNewNamesAndCloseSavesTheControls) {
    const ByteString destination = work.Join("dest") + "\\";
    const ByteString fileA = work.Join("alpha.txt");
    const ByteString folder = work.Join("sub");
    WriteBytes(fileA, "alpha");
    MakeFolder(folder);
    WriteBytes(folder + "\\gamma.dat", "gamma");
    const ByteString format = Cp932(u8"new_[ファイルタイトル].[拡張子]");
    HDROP drop = nullptr;
    bool releasedBeforeFirstBox = false;
    session.onBox = [&](const SeenBox&) {
        if (session.boxes.size() == 1) releasedBeforeFirstBox = GlobalFlags(drop) == GMEM_INVALID_HANDLE;
    };

    const INT_PTR result = session.Run(NewDialog(), [&](HWND main) {
        DialogSession::Type(main, IDC_WHERE, Wide(destination));
        DialogSession::Type(main, IDC_FORMAT, Wide(format));
        DialogSession::Click(main, IDC_MOVE);
        DialogSession::Click(main, IDC_CHANGELOG);
        drop = MakeDrop({Wide(fileA), Wide(folder)});
        SendMessageW(main, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
        EXPECT_EQ(DialogSession::TextOf(main), L"Tessarbolink  2 0 2");
        DialogSession::Click(main, IDOK);
    });

    EXPECT_EQ(result, IDOK);
    ASSERT_EQ(session.boxes.size(), 2u);
    const HWND owner = session.boxes[0].owner;
    EXPECT_NE(owner, nullptr);
    EXPECT_EQ(session.boxes[0].caption, W(u8"移動処理"));
    EXPECT_EQ(session.boxes[0].text, W(u8"実行しますか？"));
    EXPECT_TRUE(session.boxes[0].yesNo);
    EXPECT_TRUE(releasedBeforeFirstBox);
    EXPECT_EQ(session.boxes[1].caption, W(u8"結果"));
    EXPECT_EQ(session.boxes[1].owner, owner);
    EXPECT_FALSE(session.boxes[1].yesNo);
    // The batch's own boxes carry no icon.
    EXPECT_EQ(session.boxes[0].icon, nullptr);
    EXPECT_EQ(session.boxes[1].icon, nullptr);

    EXPECT_EQ(NamesIn(work.Join("dest")), (std::vector<ByteString>{"new_alpha.txt", "new_gamma.dat"}));
    EXPECT_EQ(ReadBytes(destination + "new_alpha.txt"), "alpha");
    EXPECT_FALSE(Exists(fileA));
    EXPECT_EQ(ReadBytes(programFolder.Join("change.log")),
              fileA + ">" + destination + "new_alpha.txt\r\n" + folder + "\\gamma.dat>" + destination +
                  "new_gamma.dat\r\n");
    EXPECT_FALSE(Exists(programFolder.Join("error.log")));

    const DropSettings saved = SavedSettings();
    EXPECT_EQ(saved.m_sWhere, destination);
    EXPECT_EQ(saved.m_sFileNameFormat, format);
    EXPECT_EQ(saved.m_nMode, 0);
    EXPECT_EQ(saved.m_bChangeLog, 1);
    EXPECT_EQ(saved.m_bErrorLog, 0);
}

// "No" in the real box touches nothing.
TEST_F(MainDialogGui, AnsweringNoLeavesTheFilesAlone) {
    const ByteString file = work.Join("keep.txt");
    WriteBytes(file, "k");
    session.answers = {IDNO};
    session.Run(NewDialog(), [&](HWND main) {
        DialogSession::Type(main, IDC_WHERE, Wide(work.Join("dest") + "\\"));
        SendMessageW(main, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({Wide(file)})), 0);
        DialogSession::Click(main, IDOK);
    });
    ASSERT_EQ(session.boxes.size(), 1u);
    EXPECT_TRUE(Exists(file));
    EXPECT_FALSE(Exists(work.Join("dest")));
}

// Creates a file through the wide API (names the test's own helpers cannot
// spell: beyond 260 characters, or without a code page 932 form).
void CreateWideFile(const std::wstring& path, const char* content) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, content, static_cast<DWORD>(strlen(content)), &written, nullptr);
    CloseHandle(file);
}

bool WideExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A dropped path is read whole, however long; one with no code page 932 form
// is a counted and logged failure, and nothing is touched in its place.
TEST_F(MainDialogGui, LongPathsAreReadWholeAndUnconvertibleOnesFail) {
    std::wstring deep = L"\\\\?\\" + Wide(work.Path());
    for (int i = 0; i < 6; ++i) {
        deep += L"\\" + std::wstring(50, static_cast<wchar_t>(L'a' + i));
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    }
    const std::wstring longFile = deep + L"\\long.txt";
    CreateWideFile(longFile, "long");
    const std::wstring foreign = Wide(work.Path()) + L"\\\xD55C\xAE00\xBB38\xC11C.txt";  // Hangul
    CreateWideFile(foreign, "foreign");
    const ByteString destination = work.Join("dest") + "\\";

    session.Run(NewDialog(), [&](HWND main) {
        DialogSession::Type(main, IDC_WHERE, Wide(destination));
        DialogSession::Type(main, IDC_FORMAT, W(u8"[ファイルタイトル].[拡張子]"));
        DialogSession::Click(main, IDC_MOVE);
        DialogSession::Click(main, IDC_ERRORLOG);
        const std::wstring droppedLong = longFile.substr(4);  // as the shell gives it, without "\\?\"
        ASSERT_GT(droppedLong.size(), 300u);
        SendMessageW(main, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({droppedLong, foreign})), 0);
        EXPECT_EQ(DialogSession::TextOf(main), L"Tessarbolink  1 1 2");
        DialogSession::Click(main, IDOK);
    });

    EXPECT_EQ(ReadBytes(destination + "long.txt"), "long");
    EXPECT_FALSE(WideExists(longFile));
    EXPECT_TRUE(WideExists(foreign));
    EXPECT_EQ(NamesIn(work.Join("dest")), std::vector<ByteString>{"long.txt"});
    EXPECT_EQ(ReadBytes(programFolder.Join("error.log")),
              work.Path() + "\\????.txt>" + destination + "????.txt\r\n");
}

// The close box and Esc close without a pull: edits are lost and m_nMode is
// saved as the 1 that initialization put there, whatever the radio buttons show.
TEST_F(MainDialogGui, CloseBoxSavesTheMembersNotTheControls) {
    DropSettings stored;
    stored.m_sWhere = work.Join("kept") + "\\";
    stored.m_nMode = 0;
    SaveSettings(stored, ProgramDirPath());

    const INT_PTR result = session.Run(NewDialog(), [&](HWND main) {
        EXPECT_EQ(IsDlgButtonChecked(main, IDC_MOVE), BST_CHECKED);
        EXPECT_EQ(DialogSession::TextOf(GetDlgItem(main, IDC_WHERE)), Wide(stored.m_sWhere));
        DialogSession::Type(main, IDC_WHERE, L"C:\\elsewhere\\");
        SendMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    });

    EXPECT_EQ(result, IDCANCEL);
    const DropSettings saved = SavedSettings();
    EXPECT_EQ(saved.m_sWhere, stored.m_sWhere);
    EXPECT_EQ(saved.m_nMode, 1);
}

// A size field without an integer: "閉じる(&C)" says so with the program's name
// as caption, puts the focus into the field with its text selected and keeps
// the dialog open.
TEST_F(MainDialogGui, BadSizeKeepsTheDialogOpenWithTheFieldSelected) {
    const INT_PTR result = session.Run(NewDialog(), [&](HWND main) {
        DialogSession::Type(main, IDC_KBYTES, L"12a");
        DialogSession::Click(main, IDOK);
        EXPECT_EQ(GetFocus(), GetDlgItem(main, IDC_KBYTES));
        DWORD start = 99, end = 99;
        SendDlgItemMessageW(main, IDC_KBYTES, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                            reinterpret_cast<LPARAM>(&end));
        EXPECT_EQ(start, 0u);
        EXPECT_EQ(end, 3u);
        DialogSession::Type(main, IDC_KBYTES, L"  -7 ");
        DialogSession::Click(main, IDOK);
    });

    EXPECT_EQ(result, IDOK);
    ASSERT_EQ(session.boxes.size(), 1u);
    EXPECT_EQ(session.boxes[0].text, W(u8"整数を入力してください。"));
    EXPECT_EQ(session.boxes[0].caption, Wide(CDropDlg::ProgramName()));
    EXPECT_EQ(session.boxes[0].icon, LoadIconW(nullptr, IDI_EXCLAMATION));
    EXPECT_FALSE(session.boxes[0].yesNo);
    EXPECT_EQ(SavedSettings().m_nKBytes, -7);
}

// A destination with a character that has no code page 932 form is refused
// like a bad size: the message, the field selected, the dialog still open.
TEST_F(MainDialogGui, TextWithoutACodePage932FormKeepsTheDialogOpenWithTheFieldSelected) {
    const INT_PTR result = session.Run(NewDialog(), [&](HWND main) {
        DialogSession::Type(main, IDC_WHERE, L"C:\\\u00DCnterlagen");
        DialogSession::Click(main, IDOK);
        EXPECT_EQ(GetFocus(), GetDlgItem(main, IDC_WHERE));
        DialogSession::Type(main, IDC_WHERE, L"C:\\Unterlagen");
        DialogSession::Click(main, IDOK);
    });

    EXPECT_EQ(result, IDOK);
    ASSERT_EQ(session.boxes.size(), 1u);
    EXPECT_EQ(session.boxes[0].text, W(u8"シフトJISで表せない文字が含まれています。"));
    EXPECT_EQ(session.boxes[0].caption, Wide(CDropDlg::ProgramName()));
    EXPECT_EQ(session.boxes[0].icon, LoadIconW(nullptr, IDI_EXCLAMATION));
    EXPECT_EQ(SavedSettings().m_sWhere, "C:\\Unterlagen");
}

// The About item opens the About box centred over the main window; it
// changes nothing.
TEST_F(MainDialogGui, AboutBoxOpensCentredOverTheMainWindow) {
    RECT mainRect{};
    std::wstring titleBefore, titleAfter;
    session.Run(NewDialog(), [&](HWND main) {
        GetWindowRect(main, &mainRect);
        titleBefore = DialogSession::TextOf(main);
        SendMessageW(main, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        titleAfter = DialogSession::TextOf(main);
        EXPECT_EQ(GetWindow(main, GW_ENABLEDPOPUP), nullptr);  // the box has gone
        SendMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    });

    ASSERT_EQ(session.boxes.size(), 1u);
    const SeenBox& about = session.boxes[0];
    EXPECT_EQ(about.caption, W(u8"Tessarbolinkのﾊﾞｰｼﾞｮﾝ情報"));
    const auto centre = [](LONG low, LONG high) { return (low + high) / 2; };
    EXPECT_NEAR(centre(about.rect.left, about.rect.right), centre(mainRect.left, mainRect.right), 1);
    EXPECT_NEAR(centre(about.rect.top, about.rect.bottom), centre(mainRect.top, mainRect.bottom), 1);
    EXPECT_EQ(titleAfter, titleBefore);
}

// A log or settings file that fails while it is written: the handler in
// progress is abandoned and the file-error message shown with a stop icon and
// the program's name; the old settings file stays as it was.
TEST_F(MainDialogGui, FileErrorsWhileWritingAreShownAtTheHandlerBoundary) {
    DropSettings stored;
    stored.m_sWhere = work.Join("dest") + "\\";
    stored.m_nMode = 0;  // a move writes no bytes: only the log meets the full disk
    stored.m_bChangeLog = 1;
    stored.m_sFileNameFormat = Cp932(u8"[ファイルタイトル]");
    SaveSettings(stored, ProgramDirPath());
    const std::string storedBytes = ReadBytes(programFolder.Join("Morvandel.sav"));
    const ByteString file = work.Join("file.txt");
    WriteBytes(file, "f");

    session.Run(NewDialog(), [&](HWND main) {
        testing_support::SetShortWritesAfter(0);
        SendMessageW(main, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({Wide(file)})), 0);
        SendMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    testing_support::SetShortWritesAfter(-1);

    // The confirmation; no journal can be written either, so the question
    // whether to go on without; the result, then the log's lost line; the
    // settings' error.
    ASSERT_EQ(session.boxes.size(), 5u);
    EXPECT_EQ(session.boxes[1].text, W(u8"元に戻すための記録を作れません。元に戻せないまま実行しますか？"));
    EXPECT_EQ(session.boxes[1].caption, W(u8"移動処理"));
    EXPECT_TRUE(session.boxes[1].yesNo);
    EXPECT_EQ(session.boxes[2].caption, W(u8"結果"));
    EXPECT_EQ(session.boxes[3].text, Wide(programFolder.Join("change.log")) + W(u8" に 1 行を書き込めませんでした。"));
    EXPECT_EQ(session.boxes[3].caption, W(u8"警告"));
    EXPECT_EQ(session.boxes[3].icon, nullptr);
    const std::wstring diskFull = W(u8"へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。");
    EXPECT_EQ(session.boxes[4].text, Wide(programFolder.Join("Morvandel.sav")) + L" " + diskFull);
    EXPECT_EQ(session.boxes[4].caption, Wide(CDropDlg::ProgramName()));
    EXPECT_EQ(session.boxes[4].icon, LoadIconW(nullptr, IDI_HAND));
    EXPECT_EQ(ReadBytes(programFolder.Join("Morvandel.sav")), storedBytes);
    EXPECT_TRUE(Exists(work.Join("dest") + "\\file"));  // the move was made before the log failed
}

// While another window runs a batch (it holds the journal's lock), a drop
// says so and touches nothing.
TEST_F(MainDialogGui, WhileAnotherWindowRunsADropSaysSoAndTouchesNothing) {
    const ByteString file = work.Join("keep.txt");
    WriteBytes(file, "k");
    CDropDlg& dlg = NewDialog();
    JournalWriter other(dlg.JournalPath());
    ASSERT_EQ(other.Begin(JournalHeader{work.Join("dest") + "\\", {}}), RecorderStart::Recording);
    session.Run(dlg, [&](HWND main) {
        DialogSession::Type(main, IDC_WHERE, Wide(work.Join("dest") + "\\"));
        SendMessageW(main, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({Wide(file)})), 0);
        DialogSession::Click(main, IDOK);
    });
    ASSERT_EQ(session.boxes.size(), 2u);
    EXPECT_EQ(session.boxes[1].text, W(u8"別のウィンドウで処理中です。終わってからもう一度お試しください。"));
    EXPECT_EQ(session.boxes[1].caption, W(u8"警告"));
    EXPECT_FALSE(session.boxes[1].yesNo);
    EXPECT_TRUE(Exists(file));
    EXPECT_FALSE(Exists(work.Join("dest")));
}

// Ctrl+Z in the window undoes the last batch, except in a text field, where it
// stays the field's own undo of the typing.  The keys are posted as the
// keyboard would, and run through the dialog's message filter as its own
// loop does.
TEST_F(MainDialogGui, CtrlZUndoesTheLastBatchExceptInATextField) {
    const ByteString destination = work.Join("dest") + "\\";
    const ByteString file = work.Join("beta.txt");
    WriteBytes(file, "beta");
    const auto pressCtrlZ = [](HWND main, HWND target) {
        BYTE keys[256] = {};
        GetKeyboardState(keys);
        keys[VK_CONTROL] = 0x80;
        SetKeyboardState(keys);
        PostMessageW(target, WM_KEYDOWN, 'Z', 1);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (CallMsgFilterW(&message, MSGF_DIALOGBOX)) continue;
            if (!IsDialogMessageW(main, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        keys[VK_CONTROL] = 0;
        SetKeyboardState(keys);
    };
    bool placed = false, stillPlacedAfterFieldCtrlZ = false;

    session.Run(NewDialog(), [&](HWND main) {
        DialogSession::Type(main, IDC_WHERE, Wide(destination));
        DialogSession::Type(main, IDC_FORMAT, W(u8"new_[ファイルタイトル].[拡張子]"));
        DialogSession::Click(main, IDC_MOVE);
        SendMessageW(main, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({Wide(file)})), 0);
        placed = Exists(destination + "new_beta.txt");
        pressCtrlZ(main, GetDlgItem(main, IDC_FORMAT));
        stillPlacedAfterFieldCtrlZ = Exists(destination + "new_beta.txt");
        pressCtrlZ(main, GetDlgItem(main, IDC_CLOSE));
        DialogSession::Click(main, IDOK);
    });

    EXPECT_TRUE(placed);
    EXPECT_TRUE(stillPlacedAfterFieldCtrlZ) << "Ctrl+Z in a field must not undo the batch";
    ASSERT_EQ(session.boxes.size(), 4u);
    EXPECT_EQ(session.boxes[2].text, W(u8"直前の処理を元に戻しますか？"));
    EXPECT_EQ(session.boxes[3].text, W(u8"戻した：1　戻せない：0"));
    EXPECT_EQ(ReadBytes(file), "beta");
}

}  // namespace

// The undo item follows About in the system menu, greyed until a batch has
// acted, and undoes it through the real window: question, counts in the
// title, result, the file back in its place, the item greyed again.
TEST_F(MainDialogGui, TheUndoItemOfTheSystemMenuUndoesTheLastBatch) {
    const ByteString destination = work.Join("dest") + "\\";
    const ByteString file = work.Join("alpha.txt");
    WriteBytes(file, "alpha");
    const auto undoState = [](HWND main) {
        return GetMenuState(GetSystemMenu(main, FALSE), IDM_UNDO, MF_BYCOMMAND);
    };
    std::wstring itemText(64, L'\0');
    UINT before = 0, afterBatch = 0, afterUndo = 0;
    std::wstring titleAfterUndo;
    bool placed = false;

    session.Run(NewDialog(), [&](HWND main) {
        const HMENU menu = GetSystemMenu(main, FALSE);
        itemText.resize(static_cast<size_t>(
            GetMenuStringW(menu, IDM_UNDO, itemText.data(), static_cast<int>(itemText.size()), MF_BYCOMMAND)));
        EXPECT_EQ(GetMenuItemID(menu, GetMenuItemCount(menu) - 1), static_cast<UINT>(IDM_UNDO));
        EXPECT_EQ(GetMenuItemID(menu, GetMenuItemCount(menu) - 2), static_cast<UINT>(IDM_ABOUTBOX));
        before = undoState(main);
        DialogSession::Type(main, IDC_WHERE, Wide(destination));
        DialogSession::Type(main, IDC_FORMAT, W(u8"new_[ファイルタイトル].[拡張子]"));
        DialogSession::Click(main, IDC_MOVE);
        SendMessageW(main, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({Wide(file)})), 0);
        placed = Exists(destination + "new_alpha.txt");
        afterBatch = undoState(main);
        SendMessageW(main, WM_SYSCOMMAND, IDM_UNDO, 0);
        titleAfterUndo = DialogSession::TextOf(main);
        afterUndo = undoState(main);
        DialogSession::Click(main, IDOK);
    });

    EXPECT_EQ(itemText, W(u8"直前の処理を元に戻す(&U)"));
    EXPECT_TRUE(before & MF_GRAYED);
    EXPECT_TRUE(placed);
    EXPECT_FALSE(afterBatch & MF_GRAYED);
    EXPECT_TRUE(afterUndo & MF_GRAYED);
    ASSERT_EQ(session.boxes.size(), 4u);
    EXPECT_EQ(session.boxes[2].text, W(u8"直前の処理を元に戻しますか？"));
    EXPECT_EQ(session.boxes[2].caption, W(u8"元に戻す"));
    EXPECT_TRUE(session.boxes[2].yesNo);
    EXPECT_EQ(session.boxes[3].text, W(u8"戻した：1　戻せない：0"));
    EXPECT_EQ(titleAfterUndo, L"Tessarbolink  1 0 1");
    EXPECT_EQ(ReadBytes(file), "alpha");
    EXPECT_TRUE(NamesIn(destination).empty());
}
