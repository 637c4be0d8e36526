// A log file that fails while a drop's batch writes it: the batch is abandoned
// and the window shows the file-error message instead of the result box.
#include <gtest/gtest.h>

#include <filesystem>

#include "fs/fs.h"
#include "support/test_support.h"
#include "ui/drop_dialog.h"
#include "../unit/ui_fake_controls.h"

using testing_support::NativePath;
using testing_support::TempFolder;
using testing_support::WriteBytes;

TEST(DropLogErrorTest, FullDiskUnderTheChangeLogEndsTheBatchWithTheFileError) {
    TempFolder programFolder;
    TempFolder work;
    // Every write to /dev/full fails with "no space left", whoever writes.
    const ByteString changeLog = programFolder.Join("change.log");
    std::filesystem::create_symlink("/dev/full", NativePath(changeLog));
    const ByteString source = work.Join("a.txt");
    WriteBytes(source, "hello");

    FakeControls controls;
    CDropDlg dialog(programFolder.Path() + kPathSeparator, [] { return int64_t{1000000000}; });
    dialog.Attach(controls);
    dialog.OnInitDialog();
    controls.texts[ctl::kWhere] = work.Join("out");
    controls.texts[ctl::kFormat] = "b";
    controls.checks[ctl::kCopy] = true;
    controls.checks[ctl::kChangeLog] = true;
    controls.checks[ctl::kErrorLog] = true;

    EXPECT_NO_THROW(dialog.OnDropFiles([&] { return std::vector<DroppedPath>{{source, true}}; }));

    ASSERT_EQ(controls.boxes.size(), 2u);
    EXPECT_EQ(controls.boxes[0].text, Cp932(u8"実行しますか？"));
    const FakeControls::Box& error = controls.boxes[1];
    EXPECT_EQ(error.text, Cp932(u8"%1 へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。").replace(0, 2, changeLog));
    EXPECT_EQ(error.caption, "ui_drop_log_error_test");
    EXPECT_EQ(error.buttons, MessageButtons::Ok);
    EXPECT_EQ(error.icon, MessageIcon::Stop);
    // The error log came second and was never written.
    EXPECT_FALSE(testing_support::Exists(programFolder.Join("error.log")));
    EXPECT_EQ(controls.titles, std::vector<ByteString>{"Tessarbolink  1 0 1"});
}
