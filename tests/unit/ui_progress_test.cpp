// The progress window of a long batch: what it shows, when it comes and
// goes, and the stop it asks for, through a fake window and a fake clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "support/test_support.h"
#include "ui/drop_dialog.h"
#include "ui/progress_view.h"
#include "support/fake_controls.h"

using testing_support::MakeFolder;
using testing_support::NamesIn;
using testing_support::TempFolder;
using testing_support::WriteBytes;

namespace {

TEST(ProgressView, ShowsTheCountsTheBytesOfALargeFileAndTheBar) {
    const struct {
        int32_t done, known;
        int64_t bytesDone, bytesTotal;
        const char8_t* counts;
        const char* bytes;
        int permille;
    } cases[] = {
        {0, 0, 0, 0, u8"0 / 1 ファイル", "", 0},          // the first file, before the walk counted it
        {3, 10, 0, 0, u8"3 / 10 ファイル", "", 300},
        {5, 3, 0, 0, u8"5 / 6 ファイル", "", 833},        // the walk is behind the files handled
        {10, 10, 0, 0, u8"10 / 11 ファイル", "", 909},
        {1, 4, 5'000'000, 20'000'000, u8"1 / 4 ファイル", "5 / 20 MB", 312},
        {0, 1, 1'234'567'890, 2'147'483'648, u8"0 / 1 ファイル", "1,234 / 2,147 MB", 574},
        {0, 1, 999'999, 10'000'000, u8"0 / 1 ファイル", "0 / 10 MB", 99},  // from its size on
        {0, 2, 4'000, 8'000, u8"0 / 2 ファイル", "", 250},                   // a small file: no bytes
        {0, 1, 9'000'000, 8'000'000'000'000, u8"0 / 1 ファイル", "9 / 8,000,000 MB", 0},
        {2, 2, 30'000'000, 20'000'000, u8"2 / 3 ファイル", "30 / 20 MB", 1000},  // grew while copied
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.done) + " of " + std::to_string(c.known) + ", " + std::to_string(c.bytesDone));
        ProgressView view;
        view.failed = view.stopping = true;
        FillProgressView(view, WorkProgress{"/in/a.txt", c.done, c.known, c.bytesDone, c.bytesTotal});
        EXPECT_EQ(view.file, "/in/a.txt");
        EXPECT_EQ(view.counts, Cp932(c.counts));
        EXPECT_EQ(view.bytes, c.bytes);
        EXPECT_EQ(view.permille, c.permille);
        EXPECT_TRUE(view.failed && view.stopping) << "left to the caller";
    }
}

class ProgressWindowTest : public ::testing::Test {
protected:
    // A dialog whose refresh clock moves on by step milliseconds at every look.
    CDropDlg& Open(int64_t step) {
        dialog = std::make_unique<CDropDlg>(programFolder.Path() + kPathSeparator, [] { return int64_t{1700000000}; },
                                            [this, step] { return now += step; });
        dialog->Attach(controls);
        dialog->OnInitDialog();
        return *dialog;
    }

    // A folder of files to drop, and controls that move them.
    std::vector<DroppedPath> Files(int count) {
        const ByteString folder = work.Join("in");
        MakeFolder(folder);
        for (int i = 0; i < count; ++i) WriteBytes(folder + kPathSeparator + std::to_string(i), "x");
        controls.texts[IDC_WHERE] = work.Join("out");
        controls.texts[IDC_FORMAT] = Cp932(u8"[ファイルタイトル]");
        controls.texts[IDC_KBYTES] = "0";
        controls.checks[IDC_MOVE] = true;
        return {{folder, true}};
    }

    int64_t now = 0;
    TempFolder programFolder;
    TempFolder work;
    FakeControls controls;
    std::unique_ptr<CDropDlg> dialog;
};

// The window comes once the work has run for a second after the question
// (the time the question was up does not count), is kept up to date at its
// own, slower pace, and is gone before the result box opens.
TEST_F(ProgressWindowTest, ComesAfterASecondOfWorkAndGoesBeforeTheResult) {
    constexpr int64_t kStep = 40;
    CDropDlg& dlg = Open(kStep);
    const std::vector<DroppedPath> dropped = Files(120);
    int64_t answered = -1;
    controls.onBox = [&](const FakeControls::Box& box) {
        if (box.buttons == MessageButtons::YesNo) answered = now += 5000;  // a slow answer
    };
    std::vector<int64_t> shownAt;
    controls.onProgress = [&](const ProgressView&) { shownAt.push_back(now); };
    controls.calls.clear();

    dlg.OnDropFiles([&] { return dropped; });

    EXPECT_EQ(NamesIn(work.Join("out")).size(), 120u);
    ASSERT_GE(shownAt.size(), 3u);
    EXPECT_GE(shownAt.front() - answered, CDropDlg::kProgressDelayMilliseconds);
    EXPECT_LE(shownAt.front() - answered, CDropDlg::kProgressDelayMilliseconds + CDropDlg::kTitleRefreshMilliseconds + 3 * kStep);
    for (size_t i = 1; i < shownAt.size(); ++i) {
        EXPECT_GE(shownAt[i] - shownAt[i - 1], CDropDlg::kProgressViewMilliseconds);
        EXPECT_LE(shownAt[i] - shownAt[i - 1], CDropDlg::kProgressViewMilliseconds + CDropDlg::kTitleRefreshMilliseconds + 3 * kStep);
    }
    // Each view names a file of the drop and the files of its listing.
    const ByteString in = work.Join("in") + kPathSeparator;
    const ByteString ofAll = Cp932(u8" / 120 ファイル");
    int previousPermille = 0;
    for (const ProgressView& view : controls.progressViews) {
        EXPECT_EQ(view.file.substr(0, in.size()), in);
        ASSERT_GT(view.counts.size(), ofAll.size());
        EXPECT_EQ(view.counts.substr(view.counts.size() - ofAll.size()), ofAll);
        const int done = std::stoi(view.counts.substr(0, view.counts.size() - ofAll.size()));
        EXPECT_EQ(view.permille, done * 1000 / 120);
        EXPECT_GT(view.permille, previousPermille);
        previousPermille = view.permille;
        EXPECT_FALSE(view.failed || view.stopping || !view.bytes.empty());
    }

    // Every view is followed by a refresh; the window goes, then the result comes.
    const auto& calls = controls.calls;
    for (auto view = std::find(calls.begin(), calls.end(), "progress"); view != calls.end();
         view = std::find(view + 1, calls.end(), "progress"))
        EXPECT_EQ(*std::next(view), "refresh");
    const std::vector<std::string> end(calls.end() - 3, calls.end());
    EXPECT_EQ(end, (std::vector<std::string>{"refresh", "hide progress", "box"}));
    EXPECT_EQ(controls.titles.back(), "Tessarbolink  120 0 120");
    EXPECT_EQ(controls.boxes.back().text, Cp932(u8"成功：120　失敗：0　トータル：120"));
    EXPECT_FALSE(dlg.Working());
}

// 中止 is taken only while work runs: the window greys its button at once,
// the batch hears of it, and the next batch starts afresh.
TEST_F(ProgressWindowTest, StopIsTakenOnlyWhileWorkRunsAndGreysTheButtonAtOnce) {
    CDropDlg& dlg = Open(40);
    dlg.RequestStop();
    EXPECT_FALSE(dlg.StopRequested()) << "no work runs";

    const std::vector<DroppedPath> dropped = Files(60);
    size_t viewsWhenAsked = 0;
    bool heardDuringWork = false;
    controls.onProgress = [&](const ProgressView& view) {
        if (viewsWhenAsked == 0) {
            EXPECT_FALSE(view.stopping);
            viewsWhenAsked = controls.progressViews.size();
            dlg.RequestStop();  // as the window's 中止 does, from inside its refresh
            heardDuringWork = dlg.StopRequested();
        }
    };
    dlg.OnDropFiles([&] { return dropped; });

    EXPECT_TRUE(heardDuringWork);
    ASSERT_GT(controls.progressViews.size(), viewsWhenAsked);
    EXPECT_TRUE(controls.progressViews[viewsWhenAsked].stopping) << "told at once, not at the next refresh";
    EXPECT_TRUE(std::all_of(controls.progressViews.begin() + static_cast<std::ptrdiff_t>(viewsWhenAsked),
                            controls.progressViews.end(), [](const ProgressView& v) { return v.stopping; }));
    EXPECT_FALSE(dlg.StopRequested()) << "the next work starts afresh";
    EXPECT_FALSE(dlg.Working());
}

// 中止 during a batch: the file being handled is finished, the rest stay
// untouched, the result shows what was done, and the journal covers it, so
// that undo takes back exactly that.  An undo stopped part-way keeps the rest
// in the journal for the next one.
TEST_F(ProgressWindowTest, AStoppedBatchLeavesEveryFileWholeAtOnePlaceAndCanBeUndone) {
    constexpr int kFiles = 30, kStopAfter = 7;
    CDropDlg& dlg = Open(CDropDlg::kTitleRefreshMilliseconds);  // every title is due
    const std::vector<DroppedPath> dropped = Files(kFiles);
    const ByteString in = work.Join("in"), out = work.Join("out");
    const auto stopAfter = [&](int files) {
        controls.onRefresh = [&, files] {
            if (controls.titles.size() == static_cast<size_t>(files)) dlg.RequestStop();
        };
        controls.titles.clear();
    };
    const auto expectEachFileOnce = [&](size_t placed) {
        EXPECT_EQ(NamesIn(out).size(), placed);
        EXPECT_EQ(NamesIn(in).size() + NamesIn(out).size(), static_cast<size_t>(kFiles));
    };

    stopAfter(kStopAfter);
    dlg.OnDropFiles([&] { return dropped; });
    expectEachFileOnce(kStopAfter);
    EXPECT_EQ(controls.boxes.back().text, Cp932(u8"成功：7　失敗：0　トータル：7"));
    EXPECT_EQ(controls.titles.back(), "Tessarbolink  7 0 7");
    EXPECT_TRUE(dlg.CanUndo());

    stopAfter(3);
    dlg.OnUndo();
    EXPECT_EQ(controls.boxes.back().text, Cp932(u8"戻した：3　戻せない：0"));
    expectEachFileOnce(kStopAfter - 3);
    ASSERT_TRUE(dlg.CanUndo()) << "the files not yet taken back stay in the journal";

    controls.onRefresh = nullptr;
    dlg.OnUndo();
    EXPECT_EQ(controls.boxes.back().text, Cp932(u8"戻した：4　戻せない：0"));
    expectEachFileOnce(0);
    EXPECT_FALSE(dlg.CanUndo());
}

}  // namespace
