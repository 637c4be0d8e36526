// Where the program keeps its settings, logs and default destination: beside
// itself where it can create a file, otherwise in the user's data folder,
// which must be the user's own and closed to other users.
// Each case runs in a child with its own environment; a program folder that
// cannot be written is one the child, an unprivileged user, does not own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "fs/fs.h"
#include "support/child_process.h"
#include "support/test_support.h"

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
