// Where the program keeps its settings and logs: beside itself where it can
// create a file, otherwise in the user's data folder, which must be the
// user's own and closed to other users; and where the filed documents go by
// default: beside it, or in the user's documents folder.
// Each case runs in a child with its own environment; a program folder that
// cannot be written is one the child, an unprivileged user, does not own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fs/documents_folder.h"
#include "fs/fs.h"
#include "support/child_process.h"
#include "support/test_support.h"
#include "text/encoding.h"

using namespace testing_support;

namespace {

std::string Native(const ByteString& path) { return NativePath(path).string(); }

// What is at $XDG_DATA_HOME/tessarbolink before the start.
enum class Found { Nothing, OthersFolder, OpenFolder, LinkToOwnFolder, File };

struct DataFolderCase {
    const char* what;
    bool programFolderWritable;
    const char* xdgDataHome;  // nullptr: unset; "{user}" stands for a folder the child owns
    const char* expected;     // "{program}" or a folder under "{user}"
    Found found = Found::Nothing;
    DataFolderFault fault = DataFolderFault::None;
};

// Places what the case finds at <xdg>/tessarbolink; the child (nobody) owns
// what is its own.
void Plant(Found found, const std::string& xdg) {
    const std::string folder = xdg + "/tessarbolink";
    std::filesystem::create_directories(xdg);
    ASSERT_EQ(chown(xdg.c_str(), kNobodyId, kNobodyId), 0);
    switch (found) {
    case Found::Nothing: return;
    case Found::OthersFolder:  // root's, as another user's would be
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        return;
    case Found::OpenFolder:
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
        ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
        break;
    case Found::LinkToOwnFolder:
        ASSERT_EQ(mkdir((xdg + "/own").c_str(), 0700), 0);
        ASSERT_EQ(chown((xdg + "/own").c_str(), kNobodyId, kNobodyId), 0);
        ASSERT_EQ(symlink("own", folder.c_str()), 0);
        ASSERT_EQ(lchown(folder.c_str(), kNobodyId, kNobodyId), 0);
        return;
    case Found::File:
        WriteBytes(folder, "x");
        break;
    }
    ASSERT_EQ(chown(folder.c_str(), kNobodyId, kNobodyId), 0);
}

std::string Expand(std::string text, const std::string& user, const std::string& program) {
    for (const auto& [mark, value] : {std::pair<std::string, std::string>{"{user}", user}, {"{program}", program}}) {
        for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, mark.size(), value);
    }
    return text;
}

}  // namespace

TEST(FsPosixDataFolder, BesideTheProgramWhereItCanWriteElseInTheUsersDataFolder) {
    const DataFolderCase cases[] = {
        {"a writable program folder keeps everything", true, "{user}/xdg", "{program}/"},
        {"$XDG_DATA_HOME, created with its parents", false, "{user}/new/xdg", "{user}/new/xdg/tessarbolink/"},
        {"~/.local/share by default", false, nullptr, "{user}/home/.local/share/tessarbolink/"},
        {"a relative $XDG_DATA_HOME is ignored", false, "relative/xdg", "{user}/home/.local/share/tessarbolink/"},
        {"a user folder that cannot be created leaves the program folder", false, "{program}/xdg", "{program}/"},
        {"a user folder without a Shift_JIS name leaves the program folder", false,
         reinterpret_cast<const char*>(u8"{user}/é€"), "{program}/"},
        {"another user's folder is refused", false, "{user}/xdg", "{user}/xdg/tessarbolink/", Found::OthersFolder,
         DataFolderFault::OtherOwner},
        {"a folder others may write to is refused", false, "{user}/xdg", "{user}/xdg/tessarbolink/",
         Found::OpenFolder, DataFolderFault::OthersMayWrite},
        {"a link, even to the user's own folder, is refused", false, "{user}/xdg", "{user}/xdg/tessarbolink/",
         Found::LinkToOwnFolder, DataFolderFault::Link},
        {"a file of its name is refused", false, "{user}/xdg", "{user}/xdg/tessarbolink/", Found::File,
         DataFolderFault::NotAFolder},
    };
    for (const DataFolderCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder temp;
        const ByteString program = temp.Join("program");
        const ByteString user = temp.Join("user");
        MakeFolder(program);
        MakeFolder(user);
        MakeFolder(user + "/home");
        if (geteuid() == 0) {
            ASSERT_EQ(chown(Native(user).c_str(), kNobodyId, kNobodyId), 0);
            ASSERT_EQ(chown(Native(user + "/home").c_str(), kNobodyId, kNobodyId), 0);
        }
        if (!c.programFolderWritable) {
            ASSERT_EQ(chmod(Native(program).c_str(), 0555), 0);
        }
        const std::string userNative = Native(user);
        const std::string programNative = Native(program);
        const std::string expected = Expand(c.expected, userNative, programNative);
        if (c.found != Found::Nothing && geteuid() != 0) continue;  // another user's folder needs root to make
        if (c.found != Found::Nothing) Plant(c.found, Expand(c.xdgDataHome, userNative, programNative));
        if (HasFailure()) return;

        EXPECT_CHILD_PASSES(RunInChild(
            [&]() -> std::string {
                if (c.xdgDataHome)
                    setenv("XDG_DATA_HOME", Expand(c.xdgDataHome, userNative, programNative).c_str(), 1);
                else
                    unsetenv("XDG_DATA_HOME");
                setenv("HOME", (userNative + "/home").c_str(), 1);
                if (chdir(userNative.c_str()) != 0) return "cannot enter the user's folder";
                if (c.programFolderWritable) return "";
                return DropPrivileges();
            },
            [&]() -> std::string {
                const DataFolderChoice chosen = ChooseDataFolder(program + "/");
                std::string failures;
                if (chosen.folder != expected) failures += "chose " + chosen.folder + ", not " + expected + "\n";
                if (chosen.fault != c.fault) failures += "fault " + std::to_string(int(chosen.fault)) + "\n";
                if (c.fault != DataFolderFault::None) return failures;
                if (!NamesIn(program).empty()) failures += "something was left in the program folder\n";
                struct stat st {};
                if (expected != programNative + "/" &&
                    (stat(expected.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || (st.st_mode & 077) != 0))
                    failures += "the user's data folder is not a folder of the user's alone\n";
                return failures;
            }));
        // Nothing is created for a user's folder that is not used.
        if (c.xdgDataHome && expected == programNative + "/") {
            const std::string xdg = Expand(c.xdgDataHome, userNative, programNative);
            EXPECT_FALSE(std::filesystem::exists(xdg)) << xdg;
        }
    }
}

static const char* U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

struct DestinationCase {
    const char* what;
    bool programFolderWritable;
    const char* xdgConfigHome;  // nullptr: unset
    const char* userDirsFolder;  // where user-dirs.dirs is written; nullptr: nowhere
    const char* userDirs;
    const char* expected;  // "{program}", "{user}" and "{home}" stand for those folders
};

TEST(FsPosixDataFolder, DefaultDestinationIsBesideTheProgramOrInTheUsersDocumentsFolder) {
    const DestinationCase cases[] = {
        {"a portable program files beside itself", true, nullptr, "{home}/.config",
         "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n", "{program}/MovedFiles/"},
        {"no user-dirs.dirs: ~/Documents", false, nullptr, nullptr, "", "{home}/Documents/MovedFiles/"},
        {"the desktop's Japanese name, among other lines", false, nullptr, "{home}/.config",
         U8(u8"# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/デスクトップ\"\n"
            u8"XDG_DOCUMENTS_DIR=\"$HOME/ドキュメント\"\n"),
         U8(u8"{home}/ドキュメント/MovedFiles/")},
        {"an absolute folder, from $XDG_CONFIG_HOME, its trailing slash dropped", false, "{user}/cfg", "{user}/cfg",
         "XDG_DOCUMENTS_DIR=\"{user}/elsewhere/docs/\"\n", "{user}/elsewhere/docs/MovedFiles/"},
        {"~/.config is not read when $XDG_CONFIG_HOME is set", false, "{user}/cfg", "{home}/.config",
         "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n", "{home}/Documents/MovedFiles/"},
        {"a relative $XDG_CONFIG_HOME is ignored", false, "cfg", "{home}/.config",
         "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n", "{home}/Docs/MovedFiles/"},
        {"the last line wins, blanks around '=' are allowed", false, nullptr, "{home}/.config",
         "XDG_DOCUMENTS_DIR=\"$HOME/First\"\n \tXDG_DOCUMENTS_DIR = \"$HOME/Second\"\n", "{home}/Second/MovedFiles/"},
        {"malformed lines are ignored", false, nullptr, "{home}/.config",
         "XDG_DOCUMENTS_DIR=\"Docs\"\nXDG_DOCUMENTS_DIR=$HOME/Bare\nXDG_DOCUMENTS_DIR=\"$HOMEX/Docs\"\n"
         "XDG_DOCUMENTS_DIRS=\"$HOME/Other\"\nXDG_DOCUMENTS_DIR=\"$HOME/Open\n# XDG_DOCUMENTS_DIR=\"$HOME/Off\"\n",
         "{home}/Documents/MovedFiles/"},
        {"a documents folder without a Shift_JIS name leaves the data folder", false, nullptr, "{home}/.config",
         U8(u8"XDG_DOCUMENTS_DIR=\"$HOME/é\"\n"), "{home}/.local/share/tessarbolink/MovedFiles/"},
    };
    for (const DestinationCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder temp;
        const ByteString program = temp.Join("program");
        const ByteString user = temp.Join("user");
        MakeFolder(program);
        MakeFolder(user);
        MakeFolder(user + "/home");
        const std::string programNative = Native(program);
        const std::string userNative = Native(user);
        const auto expand = [&](std::string text) {
            for (size_t at; (at = text.find("{home}")) != std::string::npos;) text.replace(at, 6, "{user}/home");
            return Expand(text, userNative, programNative);
        };
        if (c.userDirsFolder) {
            std::filesystem::create_directories(expand(c.userDirsFolder));
            std::ofstream(expand(c.userDirsFolder) + "/user-dirs.dirs") << expand(c.userDirs);
        }
        if (geteuid() == 0) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(userNative))
                ASSERT_EQ(lchown(entry.path().c_str(), kNobodyId, kNobodyId), 0);
            ASSERT_EQ(chown(userNative.c_str(), kNobodyId, kNobodyId), 0);
        }
        if (!c.programFolderWritable) {
            ASSERT_EQ(chmod(programNative.c_str(), 0555), 0);
        }
        ByteString expected;
        ASSERT_TRUE(Utf8ToCp932(expand(c.expected), expected));

        EXPECT_CHILD_PASSES(RunInChild(
            [&]() -> std::string {
                if (c.xdgConfigHome)
                    setenv("XDG_CONFIG_HOME", expand(c.xdgConfigHome).c_str(), 1);
                else
                    unsetenv("XDG_CONFIG_HOME");
                unsetenv("XDG_DATA_HOME");
                setenv("HOME", (userNative + "/home").c_str(), 1);
                if (chdir(userNative.c_str()) != 0) return "cannot enter the user's folder";
                if (c.programFolderWritable) return "";
                return DropPrivileges();
            },
            [&]() -> std::string {
                const ByteString chosen = DefaultDestinationFor(program + "/", ChooseDataFolder(program + "/").folder);
                return chosen == expected ? "" : "chose " + chosen + ", not " + expected;
            }));
        // The destination is made by the first batch, not when the program starts.
        EXPECT_FALSE(std::filesystem::exists(NativePath(expected)));
    }
}
