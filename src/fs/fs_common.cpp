// The parts of the file layer that are the same on every platform.
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
