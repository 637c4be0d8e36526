// The parts of the file layer that are the same on every platform.
#include "fs/copy_progress.h"
#include "fs/folders.h"
#include "fs/program_files.h"

namespace {

bool IsSeparatorByte(char b) { return b == '\\' || b == '/'; }

}  // namespace

void CreateFolderChain(const ByteString& path) {
    ByteString prefix;
    prefix.reserve(path.size());
    for (size_t i = 0; i < path.size(); ++i) {
        const char b = path[i];
        // Each attempt may fail: an existing folder, an impossible name.
        if (i + 1 == path.size()) {
            prefix += b;
            (void)CreateFolder(prefix);
        } else if (IsSeparatorByte(b)) {
            (void)CreateFolder(prefix);
            prefix += b;
        } else {
            prefix += b;
        }
    }
}

ByteString ProgramDir() {
    const ByteString exe = ExecutablePath();
    for (size_t i = exe.size(); i > 0; --i) {
        if (IsSeparatorByte(exe[i - 1])) return exe.substr(0, i);
    }
    return ByteString();
}

ByteString WithoutTrailingSeparator(ByteString folder) {
    if (!folder.empty() && folder.back() == kPathSeparator) folder.pop_back();
    return folder;
}

ByteString ProgramDirNoSlash() { return WithoutTrailingSeparator(ProgramDir()); }

ByteString DataFolderFor(const ByteString& programDir) {
    if (!programDir.empty() && CanCreateFileIn(programDir)) return programDir;
    const ByteString userFolder = UserDataFolder();
    return userFolder.empty() ? programDir : userFolder;
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
