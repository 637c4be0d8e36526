// The parts of the file layer that are the same on every platform.
#include "fs/fs.h"
#include "fs/local_time.h"
#include "text/cp932_scan.h"

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

// 400 Gregorian years hold a whole number of days and weeks: a moment moved
// by such cycles keeps its month, day, weekday and time of day.
constexpr int64_t kSecondsPer400Years = 146097LL * 86400;

LocalDateTime FromTm(const std::tm& local, int64_t extraYears) {
    LocalDateTime moment;
    moment.year = int64_t{local.tm_year} + 1900 + extraYears;
    moment.month = local.tm_mon + 1;
    moment.day = local.tm_mday;
    moment.hour = local.tm_hour;
    moment.minute = local.tm_min;
    moment.second = local.tm_sec;
    return moment;
}

}  // namespace

LocalDateTime LocalDateTimeThrough(RuntimeLocalTime convert, int64_t secondsSince1970) {
    std::tm local{};
    if (convert(secondsSince1970, local)) return FromTm(local, 0);
    // The same moment in the cycle from 2370 to 2769, converted with the
    // zone's rule for those years, then moved back by whole cycles.  Floor
    // division keeps every step inside 64 bits.
    int64_t cycles = secondsSince1970 / kSecondsPer400Years;
    int64_t rest = secondsSince1970 % kSecondsPer400Years;
    if (rest < 0) {
        rest += kSecondsPer400Years;
        --cycles;
    }
    if (!convert(rest + kSecondsPer400Years, local)) return LocalDateTime();
    return FromTm(local, (cycles - 1) * 400);
}

ByteString FileErrorMessage(const FileError& error) {
    const ByteString name = error.step() == FileStep::Write ? error.path() : Cp932(u8"無題のﾌｧｲﾙ");
    ByteString text = Cp932(CauseText(error.cause()));
    const auto at = text.find("%1");
    if (at != ByteString::npos) text.replace(at, 2, name);
    return text;
}

int CreateFolderChain(const ByteString& path) {
    ByteString prefix;
    prefix.reserve(path.size());
    for (size_t i = 0, length = 0; i < path.size(); i += length) {
        length = Cp932CharLength(path, i);  // a separator is a character of its own
        if (i + length == path.size()) {
            prefix.append(path, i, length);
            CreateFolder(prefix);
        } else if (IsPathSeparatorByte(path[i])) {
            CreateFolder(prefix);
            prefix += path[i];
        } else {
            prefix.append(path, i, length);
        }
    }
    return 1;
}

ByteString ProgramDir() {
    const ByteString exe = ExecutablePath();
    const size_t separator = LastSeparatorIndex(exe);
    return separator == ByteString::npos ? ByteString() : exe.substr(0, separator + 1);
}

ByteString WithoutTrailingSeparator(ByteString folder) {
    if (EndsWithCharacter(folder, kPathSeparator)) folder.pop_back();
    return folder;
}

ByteString ProgramDirNoSlash() { return WithoutTrailingSeparator(ProgramDir()); }

ByteString DataFolderFor(const ByteString& programDir) {
    if (!programDir.empty() && CanCreateFileIn(programDir) == 1) return programDir;
    const ByteString userFolder = UserDataFolder();
    return userFolder.empty() ? programDir : userFolder;
}
