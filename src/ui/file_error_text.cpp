#include "ui/file_error_text.h"

namespace {

std::u8string_view CauseText(FileErrorCause cause) {
    switch (cause) {
    case FileErrorCause::None: return u8"ｴﾗｰはありませんでした。";
    case FileErrorCause::Generic: return u8"%1 へのｱｸｾｽ中に不明なｴﾗｰが発生しました。";
    case FileErrorCause::FileNotFound: return u8"%1 が見つかりませんでした。";
    case FileErrorCause::BadPath: return u8"%1 には無効なﾊﾟｽが含まれています。";
    case FileErrorCause::TooManyOpenFiles: return u8"開いているﾌｧｲﾙが多すぎるため、%1 を開けませんでした。";
    case FileErrorCause::AccessDenied: return u8"%1 へのｱｸｾｽは拒否されました。";
    case FileErrorCause::InvalidFile: return u8"%1 へ無効なﾌｧｲﾙ ﾊﾝﾄﾞﾙが関連付けられていました。";
    case FileErrorCause::RemoveCurrentDir: return u8"現在のﾃﾞｨﾚｸﾄﾘ %1 は削除できませんでした。";
    case FileErrorCause::DirectoryFull: return u8"%1 を作成できませんでした。そのﾃﾞｨﾚｸﾄﾘはいっぱいです。";
    case FileErrorCause::BadSeek: return u8"%1 のｼｰｸに失敗しました。";
    case FileErrorCause::HardIO: return u8"%1 へのｱｸｾｽ中にﾊｰﾄﾞｳｪｱ I/O ｴﾗｰが報告されました。";
    case FileErrorCause::SharingViolation: return u8"%1 へのｱｸｾｽ中に共有違反が発生しました。";
    case FileErrorCause::LockViolation: return u8"%1 へのｱｸｾｽ中にﾛｯｸ違反が発生しました。";
    case FileErrorCause::DiskFull: return u8"%1 へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。";
    case FileErrorCause::EndOfFile: return u8"%1 の末尾以降にｱｸｾｽしようとしました。";
    }
    return u8"%1 へのｱｸｾｽ中に不明なｴﾗｰが発生しました。";
}

}  // namespace

ByteString FileErrorMessage(const FileError& error) {
    const ByteString name = error.step() == FileStep::Write ? error.path() : Cp932(u8"無題のﾌｧｲﾙ");
    ByteString text = Cp932(CauseText(error.cause()));
    const auto at = text.find("%1");
    if (at != ByteString::npos) text.replace(at, 2, name);
    return text;
}
