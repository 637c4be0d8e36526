// Where the program keeps its settings, logs and default destination: beside
// itself where it can create a file, otherwise in the user's data folder.
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

struct DataFolderCase {
    const char* what;
    bool programFolderWritable;
    const char* xdgDataHome;  // nullptr: unset; "{user}" stands for a folder the child owns
    const char* expected;     // "{program}" or a folder under "{user}"
};

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
                const ByteString chosen = DataFolderFor(program + "/");
                std::string failures;
                if (chosen != expected) failures += "chose " + chosen + ", not " + expected + "\n";
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
