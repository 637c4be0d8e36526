// The file-error message box says what failed where: the file's path for a
// write, "無題のﾌｧｲﾙ" for the other steps, and no name where the text has
// none.
#include <gtest/gtest.h>

#include "ui/file_error_text.h"

TEST(FileErrorText, NamesTheFileOnlyForAWriteAndWordsEachCause) {
    struct Row {
        FileErrorCause cause;
        FileStep step;
        const char8_t* text;
    };
    const Row rows[] = {
        {FileErrorCause::DiskFull, FileStep::Write, u8"C:\\ログ\\change.log へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。"},
        {FileErrorCause::HardIO, FileStep::Read, u8"無題のﾌｧｲﾙ へのｱｸｾｽ中にﾊｰﾄﾞｳｪｱ I/O ｴﾗｰが報告されました。"},
        {FileErrorCause::BadSeek, FileStep::Seek, u8"無題のﾌｧｲﾙ のｼｰｸに失敗しました。"},
        {FileErrorCause::AccessDenied, FileStep::Truncate, u8"無題のﾌｧｲﾙ へのｱｸｾｽは拒否されました。"},
        {FileErrorCause::TooManyOpenFiles, FileStep::Close, u8"開いているﾌｧｲﾙが多すぎるため、無題のﾌｧｲﾙ を開けませんでした。"},
        {FileErrorCause::None, FileStep::Write, u8"ｴﾗｰはありませんでした。"},
        {FileErrorCause::DirectoryFull, FileStep::Write, u8"C:\\ログ\\change.log を作成できませんでした。そのﾃﾞｨﾚｸﾄﾘはいっぱいです。"},
        {FileErrorCause::RemoveCurrentDir, FileStep::Write, u8"現在のﾃﾞｨﾚｸﾄﾘ C:\\ログ\\change.log は削除できませんでした。"},
    };
    const ByteString path = Cp932(u8"C:\\ログ\\change.log");
    for (const Row& row : rows)
        EXPECT_EQ(FileErrorMessage(FileError(row.cause, row.step, path)), Cp932(row.text)) << Cp932(row.text);
}
