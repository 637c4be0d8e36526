// The main dialog's behaviour, driven through a fake window over a fresh
// program folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>

#include "fs/fs.h"
#include "settings/settings_file.h"
#include "support/test_support.h"
#include "ui/drop_dialog.h"
#include "support/fake_controls.h"

using testing_support::Exists;
using testing_support::MakeFolder;
using testing_support::NamesIn;
using testing_support::ReadBytes;
using testing_support::ShortWritesAfter;
using testing_support::TempFolder;
using testing_support::WriteBytes;

namespace {

constexpr int64_t kNow = 0x123456789;  // beyond 32 bits, for the seed's truncation

// The nine members in one comparable, printable value.
auto Members(const DropSettings& s) {
    return std::tie(s.m_sWhere, s.m_sFileNameFormat, s.m_nMode, s.m_bChangeLog, s.m_bErrorLog, s.m_bFileDontMove,
                    s.m_nKBytes, s.m_nDontMoveMode, s.m_bDeleteDerectory);
}

const ByteString& IntegerMessage() {
    static const ByteString text = Cp932(u8"整数を入力してください。");
    return text;
}

class DropDialogTest : public ::testing::Test {
protected:
    // The program folder with its trailing separator, as the program passes it.
    ByteString ProgramDirPath() const { return programFolder.Path() + kPathSeparator; }
    ByteString SettingsPath() const { return programFolder.Join("Morvandel.sav"); }

    // A dialog over the program folder, attached and initialized.
    CDropDlg& Open(const std::function<void()>& setUpWindow = {},
                   SteadyClock refreshClock = CDropDlg::SteadyMillisecondsClock()) {
        dialog = std::make_unique<CDropDlg>(ProgramDirPath(), [] { return kNow; }, std::move(refreshClock));
        dialog->Attach(controls);
        dialog->OnInitDialog(setUpWindow);
        return *dialog;
    }

    void FillControls(const ByteString& where, const ByteString& format, const ByteString& kbytes) {
        controls.texts[IDC_WHERE] = where;
        controls.texts[IDC_FORMAT] = format;
        controls.texts[IDC_KBYTES] = kbytes;
    }

    // The file-error box about a full disk: stop icon, the program's name.
    void ExpectDiskFullBox(const FakeControls::Box& box) {
        const ByteString tail = Cp932(u8" へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。");
        ASSERT_GE(box.text.size(), tail.size());
        EXPECT_EQ(box.text.substr(box.text.size() - tail.size()), tail);
        EXPECT_EQ(box.caption, CDropDlg::ProgramName());
        EXPECT_EQ(box.buttons, MessageButtons::Ok);
        EXPECT_EQ(box.icon, MessageIcon::Stop);
    }

    std::vector<DroppedPath> Dropped(std::initializer_list<ByteString> paths) {
        std::vector<DroppedPath> list;
        for (const auto& path : paths) list.push_back({path, true});
        return list;
    }

    TempFolder programFolder;
    TempFolder work;
    FakeControls controls;
    std::unique_ptr<CDropDlg> dialog;
};

// ---------------------------------------------------------------------------
// The size field

TEST_F(DropDialogTest, SizeFieldAcceptsSignedDecimalsWithBlanksAndClamps) {
    CDropDlg& dlg = Open();
    const struct {
        ByteString text;
        int32_t value;
    } accepted[] = {
        {"0", 0},
        {"00", 0},
        {"42", 42},
        {" \t42\t ", 42},
        {"+7", 7},
        {"-7", -7},
        {"-05", -5},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"-2147483649", -2147483647 - 1},
        {"99999999999999999999999", 2147483647},
        // Only the first 31 bytes count: what follows them is never seen.
        {"5" + ByteString(30, ' ') + "x", 5},
        {ByteString(31, '9') + "x", 2147483647},
    };
    for (const auto& c : accepted) {
        SCOPED_TRACE("size field \"" + c.text + "\"");
        controls.texts[IDC_KBYTES] = c.text;
        dlg.settings().m_nKBytes = 12345;
        EXPECT_EQ(dlg.PullFromControls(), 1);
        EXPECT_EQ(dlg.settings().m_nKBytes, c.value);
    }
    EXPECT_TRUE(controls.boxes.empty());
    EXPECT_TRUE(controls.focused.empty());
}

TEST_F(DropDialogTest, SizeFieldRefusesAnythingElseWithTheMessage) {
    CDropDlg& dlg = Open();
    const ByteString refused[] = {
        "", "   ", "+", "-", "-0", "+0", "-00", "12a", "1 2", "0x10", "1.5", "a",
        "--1", "\n5", Cp932(u8"１２"),
        "5" + ByteString(29, ' ') + "x",  // the "x" lies within the first 31 bytes
    };
    for (const auto& text : refused) {
        SCOPED_TRACE("size field \"" + text + "\"");
        controls.texts[IDC_KBYTES] = text;
        controls.boxes.clear();
        controls.focused.clear();
        dlg.settings().m_nKBytes = 77;

        EXPECT_EQ(dlg.PullFromControls(), 0);
        EXPECT_EQ(dlg.settings().m_nKBytes, 77);
        ASSERT_EQ(controls.boxes.size(), 1u);
        EXPECT_EQ(controls.boxes[0].text, IntegerMessage());
        EXPECT_EQ(controls.boxes[0].caption, CDropDlg::ProgramName());
        EXPECT_EQ(controls.boxes[0].buttons, MessageButtons::Ok);
        EXPECT_EQ(controls.boxes[0].icon, MessageIcon::Exclamation);
        EXPECT_EQ(controls.focused, std::vector<int>{IDC_KBYTES});
    }
}

TEST_F(DropDialogTest, TextWithoutACodePage932FormIsRefusedLikeABadSize) {
    CDropDlg& dlg = Open();
    FillControls("D", "F", "3");
    controls.SetCheckStates("10111011");
    const DropSettings before = dlg.settings();
    controls.unconvertible = {IDC_WHERE};
    EXPECT_EQ(dlg.PullFromControls(), 0);
    EXPECT_EQ(Members(dlg.settings()), Members(before)) << "nothing from the refused field on";

    controls.unconvertible = {IDC_FORMAT};
    EXPECT_EQ(dlg.PullFromControls(), 0);
    EXPECT_EQ(dlg.settings().m_sWhere, "D");
    EXPECT_EQ(dlg.settings().m_sFileNameFormat, before.m_sFileNameFormat);
    EXPECT_EQ(dlg.settings().m_nKBytes, before.m_nKBytes);
    EXPECT_EQ(controls.focused, (std::vector<int>{IDC_WHERE, IDC_FORMAT}));
    ASSERT_EQ(controls.boxes.size(), 2u);
    for (const auto& box : controls.boxes) {
        EXPECT_EQ(box.text, Cp932(u8"シフトJISで表せない文字が含まれています。"));
        EXPECT_EQ(box.caption, CDropDlg::ProgramName());
        EXPECT_EQ(box.buttons, MessageButtons::Ok);
        EXPECT_EQ(box.icon, MessageIcon::Exclamation);
    }
}

TEST_F(DropDialogTest, FailedPullKeepsTheSettingsAfterTheSizeField) {
    CDropDlg& dlg = Open();
    FillControls("D", "F", "ten");
    controls.SetCheckStates("10111011");
    EXPECT_EQ(dlg.PullFromControls(), 0);
    // Items 1 to 6 were pulled, items 7 to 9 were not.
    const DropSettings partly{"D", "F", 0, 1, 1, 1, 10, 0, 0};
    EXPECT_EQ(Members(dlg.settings()), Members(partly));

    controls.texts[IDC_KBYTES] = "3";
    EXPECT_EQ(dlg.PullFromControls(), 1);
    const DropSettings fully{"D", "F", 0, 1, 1, 1, 3, 1, 1};
    EXPECT_EQ(Members(dlg.settings()), Members(fully));
}

// ---------------------------------------------------------------------------
// Push and initialization

TEST_F(DropDialogTest, PushShowsEveryMemberAndRadioGroupsFollowTheirIndex) {
    CDropDlg& dlg = Open();
    DropSettings& s = dlg.settings();
    s = DropSettings{"W", "F", 0, 1, 0, 1, -12, 1, 1};
    dlg.PushToControls();

    EXPECT_EQ(controls.texts[IDC_WHERE], "W");
    EXPECT_EQ(controls.texts[IDC_FORMAT], "F");
    EXPECT_EQ(controls.texts[IDC_KBYTES], "-12");
    EXPECT_EQ(controls.CheckStates(), "10101011");

    // A value that is no index clears the whole group, and reads back as -1.
    s.m_nMode = 7;
    s.m_nDontMoveMode = -1;
    dlg.PushToControls();
    EXPECT_EQ(controls.CheckStates(), "00101001");
    EXPECT_EQ(dlg.PullFromControls(), 1);
    EXPECT_EQ(s.m_nMode, -1);
    EXPECT_EQ(s.m_nDontMoveMode, -1);
}

TEST_F(DropDialogTest, PushLeavesUnchangedTextsAloneUnlessTheyAreLong) {
    CDropDlg& dlg = Open();
    dlg.settings().m_sWhere = ByteString(255, 'a');
    dlg.settings().m_sFileNameFormat = ByteString(256, 'b');
    dlg.PushToControls();
    controls.calls.clear();

    dlg.PushToControls();
    EXPECT_EQ(controls.SetTextCount(IDC_WHERE), 0);
    EXPECT_EQ(controls.SetTextCount(IDC_KBYTES), 0);
    EXPECT_EQ(controls.SetTextCount(IDC_FORMAT), 1);

    controls.texts[IDC_WHERE] = "edited";
    dlg.PushToControls();
    EXPECT_EQ(controls.SetTextCount(IDC_WHERE), 1);
    EXPECT_EQ(controls.texts[IDC_WHERE], ByteString(255, 'a'));
}

TEST_F(DropDialogTest, InitializationShowsTheLoadedSettingsButSetsTheModeToCopy) {
    WriteBytes(SettingsPath(),
               "m_sWhere=X\r\nm_sFileNameFormat=Y\r\nm_nMode=0\r\nm_nKBytes=25\r\n"
               "m_nDontMoveMode=1\r\nm_bErrorLog=1\r\n");
    // The window sets itself up after the push and before the mode is reset.
    std::optional<int32_t> modeDuringSetUp;
    bool pushedBeforeSetUp = false;
    CDropDlg& dlg = Open([&] {
        modeDuringSetUp = dialog->settings().m_nMode;
        pushedBeforeSetUp = controls.SetTextCount(IDC_KBYTES) == 1;
    });
    EXPECT_EQ(modeDuringSetUp, 0);
    EXPECT_TRUE(pushedBeforeSetUp);

    EXPECT_EQ(dlg.settings().m_nMode, 1);
    EXPECT_EQ(controls.CheckStates(), "10010010");  // the radio buttons still show the loaded move
    EXPECT_EQ(controls.texts[IDC_WHERE], "X");
    EXPECT_EQ(controls.texts[IDC_FORMAT], "Y");
    EXPECT_EQ(controls.texts[IDC_KBYTES], "25");
    EXPECT_EQ(dlg.state().m_nSuccess, 0);
    EXPECT_EQ(dlg.state().m_nFailure, 0);
}

// ---------------------------------------------------------------------------
// Closing and saving

// Esc and the close box end the dialog at once and save the members, with
// the m_nMode of 1 that initialization set; "閉じる(&C)" pulls first.
TEST_F(DropDialogTest, OnlyTheCloseButtonSavesWhatTheControlsShow) {
    const struct {
        int command;
        int32_t savedMode;
        ByteString savedWhere;
    } cases[] = {{IDC_CANCEL, 1, "Old"}, {IDC_CLOSE, 0, "Typed"}};
    for (const auto& c : cases) {
        SCOPED_TRACE("command " + std::to_string(c.command));
        WriteBytes(SettingsPath(), "m_sWhere=Old\r\nm_nMode=0\r\n");
        controls = FakeControls();
        CDropDlg& dlg = Open();
        controls.texts[IDC_WHERE] = "Typed";

        dlg.OnCommand(c.command);
        EXPECT_EQ(controls.endResults, std::vector<int>{c.command});
        dlg.OnDestroy();
        const DropSettings saved = LoadSettings(ProgramDirPath());
        EXPECT_EQ(saved.m_nMode, c.savedMode);
        EXPECT_EQ(saved.m_sWhere, c.savedWhere);
        EXPECT_TRUE(controls.boxes.empty());
    }
}

TEST_F(DropDialogTest, CloseButtonStaysOpenOnABadSize) {
    CDropDlg& dlg = Open();
    controls.texts[IDC_KBYTES] = "";
    dlg.OnCommand(IDC_CLOSE);
    EXPECT_TRUE(controls.endResults.empty());
    ASSERT_EQ(controls.boxes.size(), 1u);
    EXPECT_EQ(controls.boxes[0].text, IntegerMessage());

    controls.texts[IDC_KBYTES] = "0";
    dlg.OnCommand(IDC_CLOSE);
    EXPECT_EQ(controls.endResults, std::vector<int>{IDC_CLOSE});
}

TEST_F(DropDialogTest, FailedSettingsWriteAtDestructionShowsTheFileError) {
    CDropDlg& dlg = Open();
    {
        ShortWritesAfter diskFull(0);
        EXPECT_NO_THROW(dlg.OnDestroy());
    }

    ASSERT_EQ(controls.boxes.size(), 1u);
    ExpectDiskFullBox(controls.boxes[0]);
}

// ---------------------------------------------------------------------------
// The command table

TEST_F(DropDialogTest, FormatButtonsAppendTheirTokenAtTheEnd) {
    CDropDlg& dlg = Open();
    const struct {
        int id;
        ByteString token;
    } buttons[] = {
        {IDC_TITLE, Cp932(u8"[ファイルタイトル]")},
        {IDC_EXTENSION, Cp932(u8".[拡張子]")},
        {IDC_DATE, Cp932(u8"[現在の日付]")},
        {IDC_RANDOM, Cp932(u8"[乱数]")},
        {IDC_SERIAL, Cp932(u8"[連番]")},
        {IDC_UNDERBAR, "_"},
        {IDC_HYPHEN, "-"},
        {IDC_SPACE, " "},
    };
    for (const auto& button : buttons) {
        SCOPED_TRACE("button " + std::to_string(button.id));
        controls.texts[IDC_FORMAT] = "typed";
        controls.texts[IDC_WHERE] = "where typed";
        dlg.OnCommand(button.id);
        EXPECT_EQ(dlg.settings().m_sFileNameFormat, "typed" + button.token);
        EXPECT_EQ(controls.texts[IDC_FORMAT], "typed" + button.token);
        EXPECT_EQ(dlg.settings().m_sWhere, "where typed");  // pulled first
    }
    EXPECT_TRUE(controls.boxes.empty());
}

TEST_F(DropDialogTest, FormatButtonOnABadSizeAppendsAndRefillsFromTheLastPull) {
    CDropDlg& dlg = Open();
    controls.texts[IDC_KBYTES] = "8";
    controls.SetCheckStates("10000010");
    ASSERT_EQ(dlg.PullFromControls(), 1);

    controls.texts[IDC_KBYTES] = "oops";
    controls.texts[IDC_FORMAT] = "a";
    controls.SetCheckStates("01000101");
    dlg.OnCommand(IDC_HYPHEN);

    ASSERT_EQ(controls.boxes.size(), 1u);
    EXPECT_EQ(controls.boxes[0].text, IntegerMessage());
    EXPECT_EQ(controls.texts[IDC_FORMAT], "a-");
    EXPECT_EQ(controls.texts[IDC_KBYTES], "8");
    EXPECT_EQ(controls.CheckStates(), "01000010");  // pulled before the size; the rest from the last pull
}

TEST_F(DropDialogTest, BrowseSetsTheDestinationWithOneSeparator) {
    CDropDlg& dlg = Open();
    const ByteString sep(1, kPathSeparator);
    const struct {
        std::optional<ByteString> chosen;
        ByteString where;
    } cases[] = {
        {"base" + sep + "folder", "base" + sep + "folder" + sep},
        {"base" + sep, "base" + sep},
        {ByteString(), sep},  // a folder without a file-system path
        {"base" + sep + Cp932(u8"ソ"), "base" + sep + Cp932(u8"ソ") + sep},  // ソ ends in the byte 0x5C
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("chosen \"" + *c.chosen + "\"");
        controls.browseAnswer = c.chosen;
        dlg.OnCommand(IDC_BROWSE);
        EXPECT_EQ(dlg.settings().m_sWhere, c.where);
        EXPECT_EQ(controls.texts[IDC_WHERE], c.where);
    }
    ASSERT_EQ(controls.browseTitles.size(), 4u);
    EXPECT_EQ(controls.browseTitles[0], Cp932(u8"フォルダの参照"));
}

// "クリア" and a cancelled browser refresh every control from the members
// without reading them first (a pull would complain about the size).
TEST_F(DropDialogTest, ClearAndACancelledBrowseRefreshWithoutPulling) {
    CDropDlg& dlg = Open();
    dlg.settings().m_sFileNameFormat = "kept format";
    for (int command : {IDC_BROWSE, IDC_CLEAR}) {
        SCOPED_TRACE("command " + std::to_string(command));
        dlg.settings().m_sWhere = "kept";
        FillControls("typed", "typed format", "bad");
        dlg.OnCommand(command);
        EXPECT_EQ(dlg.settings().m_sWhere, "kept");
        EXPECT_EQ(controls.texts[IDC_WHERE], "kept");
        EXPECT_EQ(controls.texts[IDC_KBYTES], "10");
        EXPECT_EQ(controls.texts[IDC_FORMAT], command == IDC_CLEAR ? "" : "kept format");
        EXPECT_EQ(dlg.settings().m_sFileNameFormat, controls.texts[IDC_FORMAT]);
    }
    EXPECT_TRUE(controls.boxes.empty());
}

TEST_F(DropDialogTest, AboutCommandIgnoresTheLowFourBits) {
    CDropDlg& dlg = Open();
    for (unsigned id : {16u, 17u, 31u}) EXPECT_TRUE(dlg.OnSysCommand(id)) << id;
    for (unsigned id : {0u, 15u, 48u, 0xF060u, 0x10010u}) EXPECT_FALSE(dlg.OnSysCommand(id)) << id;
    EXPECT_TRUE(dlg.OnSysCommand(IDM_UNDO)) << "the undo item, outside 16-31";
    EXPECT_EQ(controls.aboutRuns, 3);
}

// ---------------------------------------------------------------------------
// The drop

TEST_F(DropDialogTest, DropPullsThenReadsAndReleasesThenRunsTheBatch) {
    CDropDlg& dlg = Open();
    const ByteString destination = work.Join("dest");
    FillControls(destination, "x", "10");
    controls.calls.clear();
    controls.answers = {MessageResult::No};

    dlg.OnDropFiles([&] {
        controls.Record("read");
        controls.Record("release");
        return Dropped({work.Join("a.txt")});
    });

    const auto& calls = controls.calls;
    const auto at = [&](const std::string& entry) {
        return static_cast<size_t>(std::find(calls.begin(), calls.end(), entry) - calls.begin());
    };
    ASSERT_EQ(calls.size(), at("release") + 2u) << "one box follows the release";
    EXPECT_EQ(calls.back(), "box");
    EXPECT_EQ(at("release"), at("read") + 1);
    EXPECT_LT(at("get 1025"), at("read"));
    EXPECT_EQ(controls.SetTextCount(IDC_WHERE) + controls.SetTextCount(IDC_KBYTES), 0);

    ASSERT_EQ(controls.boxes.size(), 1u);
    EXPECT_EQ(controls.boxes[0].text, Cp932(u8"実行しますか？"));
    EXPECT_EQ(controls.boxes[0].caption, Cp932(u8"コピー処理"));
    EXPECT_EQ(controls.boxes[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(controls.boxes[0].icon, MessageIcon::None);
    EXPECT_EQ(dlg.settings().m_sWhere, destination);
    EXPECT_FALSE(Exists(destination));
}

// A field the pull refuses leaves the settings after it behind what the
// controls show; a drop then must not run on the old ones.  Here the saved
// rule deletes small files, while the controls already say to leave them.
TEST_F(DropDialogTest, DropIsAbandonedWhenThePullFails) {
    struct Case {
        const char* what;
        int refusedField;
        const char* kbytes;
        ByteString message;
    };
    const Case cases[] = {
        {"a size that is no integer", IDC_KBYTES, "ten", IntegerMessage()},
        {"a destination without a code page 932 form", IDC_WHERE, "10",
         Cp932(u8"シフトJISで表せない文字が含まれています。")},
        {"a format without a code page 932 form", IDC_FORMAT, "10",
         Cp932(u8"シフトJISで表せない文字が含まれています。")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        const ByteString small = folder.Join("small.txt");
        WriteBytes(small, "tiny");
        CDropDlg& dlg = Open();
        dlg.settings().m_bFileDontMove = 1;
        dlg.settings().m_nDontMoveMode = 0;  // delete small files
        dlg.settings().m_sWhere = folder.Join("out");
        FillControls(folder.Join("out"), "[連番]", c.kbytes);
        controls.SetCheckStates("01001010");  // copy, small-file rule on, leave them
        controls.unconvertible.clear();
        if (c.refusedField != IDC_KBYTES) controls.unconvertible.insert(c.refusedField);
        controls.boxes.clear();
        controls.focused.clear();
        controls.titles.clear();
        bool released = false;

        dlg.OnDropFiles([&] {
            released = true;
            return Dropped({small});
        });

        EXPECT_TRUE(released);
        ASSERT_EQ(controls.boxes.size(), 1u) << "no question, no result";
        EXPECT_EQ(controls.boxes[0].text, c.message);
        EXPECT_EQ(controls.boxes[0].caption, CDropDlg::ProgramName());
        EXPECT_EQ(controls.boxes[0].icon, MessageIcon::Exclamation);
        EXPECT_EQ(controls.focused, std::vector<int>{c.refusedField});
        EXPECT_EQ(ReadBytes(small), "tiny");
        EXPECT_FALSE(Exists(folder.Join("out")));
        EXPECT_TRUE(controls.titles.empty());
        EXPECT_EQ(dlg.state().m_nTotal, 0);
        EXPECT_EQ(dlg.settings().m_nDontMoveMode, 0) << "the settings from the refused field on stay";
        controls.unconvertible.clear();
    }
}

TEST_F(DropDialogTest, DropRunsABatchWhoseMessagesReachTheWindow) {
    CDropDlg& dlg = Open();
    const ByteString source = work.Join("a.txt");
    const ByteString destination = work.Join("out");
    WriteBytes(source, "hello");
    FillControls(destination, Cp932(u8"[乱数]"), "10");
    controls.checks[IDC_COPY] = true;
    controls.checks[IDC_CHANGELOG] = true;

    dlg.OnDropFiles([&] { return Dropped({source}); });

    // The random numbers were seeded with the clock's low 32 bits.
    NameRandom expected;
    expected.Seed(static_cast<uint32_t>(kNow));
    const ByteString name = std::to_string(expected.Draw() % 100000);
    EXPECT_EQ(NamesIn(destination), std::vector<ByteString>{name});
    EXPECT_EQ(ReadBytes(source), "hello");

    EXPECT_EQ(controls.titles, std::vector<ByteString>{"Tessarbolink  1 0 1"});
    ASSERT_EQ(controls.boxes.size(), 2u);
    EXPECT_EQ(controls.boxes[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(controls.boxes[1].text, Cp932(u8"成功：1　失敗：0　トータル：1"));
    EXPECT_EQ(controls.boxes[1].caption, Cp932(u8"結果"));
    EXPECT_EQ(controls.boxes[1].buttons, MessageButtons::Ok);
    EXPECT_EQ(controls.boxes[1].icon, MessageIcon::None);

    // The change log lies beside the program.
    const ByteString logLine = source + ">" + destination + kPathSeparator + name + "\r\n";
    EXPECT_EQ(ReadBytes(programFolder.Join("change.log")), logLine);
}

// The batch sets the title after every file; the window gets it, with a
// moment to repaint and answer the system, at the display's pace: the first
// at once, then each time the interval has passed, and the last one before
// the result box.
TEST_F(DropDialogTest, TitlesReachTheWindowAtTheDisplaysPaceAndTheLastBeforeTheResult) {
    constexpr int kFiles = 60;
    constexpr int64_t kStep = 4;  // milliseconds that pass on every look at the clock
    int64_t now = 0;
    CDropDlg& dlg = Open({}, [&] { return now += kStep; });
    const ByteString folder = work.Join("in");
    MakeFolder(folder);
    for (int i = 0; i < kFiles; ++i) WriteBytes(folder + kPathSeparator + std::to_string(i), "x");
    FillControls(work.Join("out"), Cp932(u8"[ファイルタイトル]"), "0");
    controls.checks[IDC_MOVE] = true;
    std::vector<int64_t> refreshedAt;  // from the first title on
    controls.onRefresh = [&] {
        if (!controls.titles.empty()) refreshedAt.push_back(now);
    };
    controls.calls.clear();

    dlg.OnDropFiles([&] { return Dropped({folder}); });

    // The answered question is gone from the screen before the first file.
    const auto question = std::find(controls.calls.begin(), controls.calls.end(), "box");
    ASSERT_NE(question, controls.calls.end());
    EXPECT_EQ(*std::next(question), "refresh");
    ASSERT_GE(controls.titles.size(), 3u);
    ASSERT_EQ(refreshedAt.size(), controls.titles.size()) << "every title comes with a refresh";
    EXPECT_EQ(controls.titles.front(), "Tessarbolink  1 0 1");
    EXPECT_EQ(controls.titles.back(), "Tessarbolink  60 0 60");
    const int64_t interval = CDropDlg::kTitleRefreshMilliseconds;
    for (size_t i = 1; i + 1 < refreshedAt.size(); ++i) {
        const int64_t gap = refreshedAt[i] - refreshedAt[i - 1];
        EXPECT_GE(gap, interval) << i;
        EXPECT_LE(gap, interval + 2 * kStep) << i << ": a due title waits for no further file";
    }
    const std::vector<std::string> end(controls.calls.end() - 3, controls.calls.end());
    EXPECT_EQ(end, (std::vector<std::string>{"title", "refresh", "box"})) << "the final counts, then the result";
    EXPECT_EQ(controls.boxes.back().text, Cp932(u8"成功：60　失敗：0　トータル：60"));
}

// A log the program may not write to (no write permission stops root too)
// loses its lines visibly: the warning follows the result box.
TEST_F(DropDialogTest, ALogThatCannotBeWrittenIsNamedAfterTheResultAndTheOtherIsWritten) {
    CDropDlg& dlg = Open();
    const ByteString source = work.Join("a.txt");
    WriteBytes(source, "hello");
    FillControls(work.Join("out"), "b", "10");
    controls.SetCheckStates("10110000");  // move, both logs
    const ByteString changeLog = programFolder.Join("change.log");
    WriteBytes(changeLog, "");
    std::filesystem::permissions(testing_support::NativePath(changeLog), std::filesystem::perms::owner_read);

    dlg.OnDropFiles([&] { return std::vector<DroppedPath>{{source, true}, {work.Join("?.txt"), false}}; });

    ASSERT_EQ(controls.boxes.size(), 3u);
    EXPECT_EQ(controls.boxes[1].text, Cp932(u8"成功：1　失敗：1　トータル：2"));
    EXPECT_EQ(controls.boxes[2].text, changeLog + Cp932(u8" に 1 行を書き込めませんでした。"));
    EXPECT_EQ(controls.boxes[2].caption, Cp932(u8"警告"));
    EXPECT_EQ(controls.boxes[2].buttons, MessageButtons::Ok);
    EXPECT_EQ(controls.boxes[2].icon, MessageIcon::None);
    EXPECT_EQ(ReadBytes(programFolder.Join("error.log")), work.Join("?.txt") + ">" + work.Join("out") + kPathSeparator + "b\r\n");
}

TEST(ProgramNameTest, IsTheExecutablesNameWithoutFolderAndExtension) {
    EXPECT_EQ(CDropDlg::ProgramName(), "ui_drop_dialog_test");
}

}  // namespace

// ---------------------------------------------------------------------------
// Undo of the last batch

// The item is greyed until a batch has acted; a No to the batch's question
// keeps the journal of the batch before.  A dialog started again over the
// same folder offers the undo, which pulls first (a refused field abandons
// it), asks, shows the counts in the title and the result, and leaves
// nothing more to undo.
TEST_F(DropDialogTest, UndoWorksAfterARestartAndIsGreyedWhenThereIsNothingToUndo) {
    CDropDlg& first = Open();
    EXPECT_EQ(controls.undoEnabled, std::optional<bool>(false));
    const ByteString destination = work.Join("dest");
    WriteBytes(work.Join("alpha.txt"), "a");
    FillControls(destination, Cp932(u8"moved-[ファイルタイトル].[拡張子]"), "10");
    controls.SetCheckStates("10000000");  // move, no logs, no small-file rule
    first.OnDropFiles([&] { return Dropped({work.Join("alpha.txt")}); });
    ASSERT_EQ(NamesIn(destination), std::vector<ByteString>{"moved-alpha.txt"});
    EXPECT_EQ(controls.undoEnabled, std::optional<bool>(true));

    controls.answers = {MessageResult::No};
    first.OnDropFiles([&] { return Dropped({work.Join("beta.txt")}); });
    EXPECT_TRUE(first.CanUndo()) << "answered No: the journal of the batch before stays";
    first.OnCommand(IDC_CLOSE);
    first.OnDestroy();

    controls = FakeControls{};
    CDropDlg& second = Open();
    EXPECT_EQ(controls.undoEnabled, std::optional<bool>(true));
    controls.texts[IDC_KBYTES] = "bad";
    EXPECT_TRUE(second.OnSysCommand(IDM_UNDO));
    ASSERT_EQ(controls.boxes.size(), 1u);
    EXPECT_EQ(controls.boxes[0].text, IntegerMessage());
    EXPECT_TRUE(Exists(destination + kPathSeparator + "moved-alpha.txt")) << "abandoned";

    controls.boxes.clear();
    controls.texts[IDC_KBYTES] = "10";
    second.OnUndo();
    ASSERT_EQ(controls.boxes.size(), 2u);
    EXPECT_EQ(controls.boxes[0].text, Cp932(u8"直前の処理を元に戻しますか？"));
    EXPECT_EQ(controls.boxes[0].caption, Cp932(u8"元に戻す"));
    EXPECT_EQ(controls.boxes[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(controls.boxes[0].icon, MessageIcon::None);
    EXPECT_EQ(controls.boxes[1].text, Cp932(u8"戻した：1　戻せない：0"));
    EXPECT_EQ(controls.boxes[1].caption, Cp932(u8"結果"));
    EXPECT_EQ(controls.titles.back(), "Tessarbolink  1 0 1");
    EXPECT_EQ(ReadBytes(work.Join("alpha.txt")), "a");
    EXPECT_EQ(controls.undoEnabled, std::optional<bool>(false));

    controls.boxes.clear();
    second.OnUndo();
    EXPECT_TRUE(controls.boxes.empty()) << "nothing to undo: nothing asked";
}
