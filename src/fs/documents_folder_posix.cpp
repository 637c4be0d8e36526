// The user's documents folder as the desktop names it, read the way the
// desktop libraries read it: the line XDG_DOCUMENTS_DIR="$HOME/..." (or an
// absolute "/...") of user-dirs.dirs, the last such line winning.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "fs/documents_folder.h"
#include "fs/fs.h"
#include "fs/home_folder_posix.h"
#include "text/encoding.h"

namespace {

bool IsAbsolute(const char* path) { return path && path[0] == '/'; }

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The folder a line names, or nothing when it is not a well-formed
// XDG_DOCUMENTS_DIR line.
std::optional<std::string> DocumentsFolderOfLine(std::string_view line, const std::string& home) {
    constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR";
    const auto skipBlanks = [&] {
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    };
    skipBlanks();
    if (!line.starts_with(kKey)) return std::nullopt;
    line.remove_prefix(kKey.size());
    skipBlanks();
    if (!line.starts_with('=')) return std::nullopt;
    line.remove_prefix(1);
    skipBlanks();
    if (!line.starts_with('"')) return std::nullopt;
    line.remove_prefix(1);
    const size_t closing = line.rfind('"');
    if (closing == std::string_view::npos) return std::nullopt;
    line = line.substr(0, closing);

    std::string folder;
    if (line.starts_with("$HOME") && (line.size() == 5 || line[5] == '/')) {
        folder = home + std::string(line.substr(5));
    } else if (line.starts_with('/')) {
        folder = std::string(line);
    } else {
        return std::nullopt;  // relative, or another variable: not a name the desktop accepts
    }
    return WithoutTrailingSlashes(folder);
}

std::string ConfigFolder(const std::string& home) {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    return IsAbsolute(xdg) ? WithoutTrailingSlashes(xdg) : home + "/.config";
}

}  // namespace

std::string HomeFolderNative() {
    const char* home = getenv("HOME");
    if (!IsAbsolute(home)) {
        const passwd* user = getpwuid(getuid());
        home = user ? user->pw_dir : nullptr;
    }
    return IsAbsolute(home) ? WithoutTrailingSlashes(home) : std::string();
}

ByteString UserDocumentsFolder() {
    const std::string home = HomeFolderNative();
    if (home.empty()) return ByteString();
    const std::string base = home == "/" ? std::string() : home;  // what "$HOME" stands for before a "/"
    std::string documents = base + "/Documents";
    std::ifstream dirs(ConfigFolder(base) + "/user-dirs.dirs");
    for (std::string line; std::getline(dirs, line);) {
        if (auto named = DocumentsFolderOfLine(line, base)) documents = *named;
    }
    ByteString folder;
    if (!Utf8ToCp932(documents, folder)) return ByteString();
    return folder == "/" ? folder : folder + kPathSeparator;
}
