// The parts of the file layer that are the same on every platform.
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

DataFolderChoice ChooseDataFolder(const ByteString& programDir) {
    if (!programDir.empty() && CanCreateFileIn(programDir)) return {programDir, DataFolderFault::None};
    DataFolderChoice user = UserDataFolder();
    if (user.folder.empty()) return {programDir, DataFolderFault::None};
    return user;
}
