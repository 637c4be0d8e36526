// The parts of the file layer that are the same on every platform.
#include "fs/copy_progress.h"
#include "fs/folders.h"
#include "fs/program_files.h"
#include "text/cp932_scan.h"

void CreateFolderChain(const ByteString& path) {
    ByteString prefix;
    prefix.reserve(path.size());
    for (size_t i = 0, length = 0; i < path.size(); i += length) {
        length = Cp932CharLength(path, i);  // a separator is a character of its own
        if (i + length == path.size()) {
            prefix.append(path, i, length);
            (void)CreateFolder(prefix);  // may fail: an existing folder, an impossible name
        } else if (IsPathSeparatorByte(path[i])) {
            (void)CreateFolder(prefix);  // may fail: an existing folder, an impossible name
            prefix += path[i];
        } else {
            prefix.append(path, i, length);
        }
    }
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

DataFolderChoice ChooseDataFolder(const ByteString& programDir) {
    if (!programDir.empty() && CanCreateFileIn(programDir)) return {programDir, DataFolderFault::None};
    DataFolderChoice user = UserDataFolder();
    if (user.folder.empty()) return {programDir, DataFolderFault::None};
    return user;
}

CopyPieces::CopyPieces(CopyProgress* progress, int64_t size)
    : progress_(progress), size_(size), pieceStart_(SteadyClock::now()) {}

void CopyPieces::Done(size_t bytes) {
    copied_ += static_cast<int64_t>(bytes);
    // A piece should take between 10 and 40 ms: long enough that the reports
    // cost nothing, short enough that the one who listens gets its moments.
    const auto took = SteadyClock::now() - pieceStart_;
    if (took < std::chrono::milliseconds(10) && piece_ < kLargestPiece) piece_ *= 2;
    if (took > std::chrono::milliseconds(40) && piece_ > kSmallestPiece) piece_ /= 2;
    if (progress_) progress_->Copied(copied_, size_);
    pieceStart_ = SteadyClock::now();  // the listener's time is not the copy's
}

void CopyPieces::Skipped(int64_t bytes) {
    if (bytes <= 0) return;
    copied_ += bytes;
    if (progress_) progress_->Copied(copied_, size_);
    pieceStart_ = SteadyClock::now();
}
