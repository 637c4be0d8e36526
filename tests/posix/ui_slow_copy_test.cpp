// A batch of large files moved to another file system through a slow
// writer: the window is refreshed from inside each copy, and 中止 lets the
// file being copied finish and leaves the others alone, every file whole at
// exactly one place; the journal then takes back what was done.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "support/fake_controls.h"
#include "support/fs_seams.h"
#include "support/shm_folder.h"
#include "support/test_support.h"
#include "ui/drop_dialog.h"

using testing_support::NamesIn;
using testing_support::ReadBytes;
using testing_support::ShmFolder;
using testing_support::TempFolder;
using testing_support::WriteBytes;

namespace {

constexpr int kFiles = 4;
constexpr size_t kFileBytes = 12'000'000;  // large: the window shows its bytes

// A file's own content, so that a mix-up or a half-copy shows.
std::string ContentOf(int file) {
    std::string content(kFileBytes, '\0');
    constexpr size_t kRun = 4096;
    for (size_t at = 0; at < content.size(); at += kRun)
        content.replace(at, std::min(kRun, content.size() - at), std::min(kRun, content.size() - at),
                        static_cast<char>('a' + (at / kRun + file) % 26));
    return content;
}

class SlowWrites {
public:
    explicit SlowWrites(std::chrono::microseconds perWrite) { testing_support::SetSlowWrites(perWrite); }
    ~SlowWrites() { testing_support::SetSlowWrites(std::chrono::microseconds(0)); }
};

TEST(SlowCopy, TheWindowBreathesInsideEachCopyAndAStopFinishesTheFileBeingCopied) {
    TempFolder program, source;
    ShmFolder destination;
    if (!destination.OnAnotherFileSystemThan(source.Path())) GTEST_SKIP() << "no /dev/shm on another file system";
    for (int i = 0; i < kFiles; ++i) WriteBytes(source.Join(std::to_string(i)), ContentOf(i));

    // Refreshes at 40 times the real pace, so that the progress window comes
    // at once and every report of a copy reaches it.
    const auto start = std::chrono::steady_clock::now();
    CDropDlg dlg(program.Path() + kPathSeparator, [] { return int64_t{1700000000}; }, [start] {
        return 40 * std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    });
    FakeControls controls;
    dlg.Attach(controls);
    dlg.OnInitDialog();
    controls.texts[IDC_WHERE] = destination.Path();
    controls.texts[IDC_FORMAT] = Cp932(u8"[ファイルタイトル]");
    controls.texts[IDC_KBYTES] = "0";
    controls.checks[IDC_MOVE] = true;

    // What the window showed of each file while it was being copied.
    std::map<ByteString, std::set<ByteString>> bytesShown;
    std::vector<ByteString> filesSeen;
    const ByteString ofAll = " / 12 MB";
    controls.onProgress = [&](const ProgressView& view) {
        if (filesSeen.empty() || filesSeen.back() != view.file) filesSeen.push_back(view.file);
        if (!view.bytes.empty() && view.bytes != "12" + ofAll) bytesShown[view.file].insert(view.bytes);
        // Halfway through the second file.
        if (filesSeen.size() == 2 && view.bytes == "6" + ofAll) dlg.RequestStop();
    };
    {
        const SlowWrites slow(std::chrono::microseconds(3000));  // per 256 KiB: about 80 MB/s
        dlg.OnDropFiles([&] { return std::vector<DroppedPath>{{source.Path(), true}}; });
    }

    ASSERT_GE(filesSeen.size(), 2u);
    EXPECT_EQ(controls.boxes.back().text, Cp932(u8"成功：2　失敗：0　トータル：2"));
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_GE(bytesShown[filesSeen[i]].size(), 3u) << "refreshed from inside the copy of " << filesSeen[i];
    }
    // The two files handled are whole in the destination and gone from the
    // source; the others whole where they were.  Nothing else anywhere.
    std::set<ByteString> placed;
    for (const ByteString& name : NamesIn(destination.Path())) placed.insert(name);
    EXPECT_EQ(placed.size(), 2u);
    for (int i = 0; i < kFiles; ++i) {
        const ByteString name = std::to_string(i);
        const bool moved = placed.count(name) > 0;
        EXPECT_EQ(ReadBytes(moved ? destination.Join(name) : source.Join(name)), ContentOf(i)) << name;
        EXPECT_NE(testing_support::Exists(source.Join(name)), moved) << name;
    }

    // The journal covers what was done: undo brings both back.
    dlg.OnUndo();
    EXPECT_EQ(controls.boxes.back().text, Cp932(u8"戻した：2　戻せない：0"));
    EXPECT_TRUE(NamesIn(destination.Path()).empty());
    for (int i = 0; i < kFiles; ++i) EXPECT_EQ(ReadBytes(source.Join(std::to_string(i))), ContentOf(i)) << i;
}

}  // namespace
