// Settings-file cases that need POSIX: links, and permissions that really
// refuse.  Root ignores permission bits, so the permission cases run the save
// in a child process that has become the unprivileged user "nobody".
#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "fs/fs.h"
#include "support/test_support.h"

using namespace testing_support;
namespace fsys = std::filesystem;

namespace {

constexpr int kRefusedAsExpected = 0;
constexpr int kNotRefused = 10;
constexpr int kSaveThrew = 11;

struct Nobody {
    uid_t uid = 65534;
    gid_t gid = 65534;
};

Nobody FindNobody() {
    Nobody nobody;
    if (const passwd* entry = getpwnam("nobody")) {
        nobody.uid = entry->pw_uid;
        nobody.gid = entry->pw_gid;
    }
    return nobody;
}

bool RunningAsRoot() { return geteuid() == 0; }

// Hands the path to "nobody" when the tests run as root; the unprivileged
// user running the tests owns it already otherwise.
void GiveToTestUser(const ByteString& path) {
    if (!RunningAsRoot()) return;
    const Nobody nobody = FindNobody();
    ASSERT_EQ(0, lchown(NativePath(path).c_str(), nobody.uid, nobody.gid));
}

// Runs the body as an unprivileged user and gives its exit code: in a child
// that drops root when the tests run as root, in this process otherwise.
int RunUnprivileged(const std::function<int()>& body) {
    if (!RunningAsRoot()) return body();
    const pid_t child = fork();
    if (child == 0) {
        const Nobody nobody = FindNobody();
        if (setgroups(0, nullptr) != 0 || setgid(nobody.gid) != 0 || setuid(nobody.uid) != 0) _exit(99);
        _exit(body());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Saves as the current user after checking that a plain open for writing of
// the named path is really refused, so the case cannot pass vacuously.
int SaveWhereRefused(const DropSettings& settings, const ByteString& folder, const ByteString& refused,
                     int openFlags) {
    const int fd = open(NativePath(refused).c_str(), openFlags, 0644);
    if (fd >= 0) {
        close(fd);
        return kNotRefused;
    }
    try {
        SaveSettings(settings, folder);
    } catch (const FileError&) {
        return kSaveThrew;
    }
    return kRefusedAsExpected;
}

DropSettings ChangedSettings() {
    DropSettings s;
    s.m_sWhere = Cp932(u8"/home/表/");
    s.m_nKBytes = 321;
    s.m_bErrorLog = 1;
    return s;
}

class SettingsFilePosixTest : public ::testing::Test {
protected:
    SettingsFilePosixTest() {
        MakeFolder(temp_.Join("program"));
        folder_ = temp_.Join("program") + "/";
        GiveToTestUser(temp_.Path());
        GiveToTestUser(temp_.Join("program"));
    }

    ByteString SettingsPath() const { return folder_ + "Morvandel.sav"; }

    TempFolder temp_;
    ByteString folder_;
};

TEST_F(SettingsFilePosixTest, LinkedSettingsFileIsWrittenThroughTheLink) {
    MakeFolder(temp_.Join("real"));
    const ByteString target = temp_.Join("real") + "/settings.sav";
    WriteBytes(target, "m_nKBytes=1\r\n");
    fsys::create_symlink("../real/settings.sav", NativePath(SettingsPath()));

    const DropSettings saved = ChangedSettings();
    SaveSettings(saved, folder_);

    EXPECT_TRUE(fsys::is_symlink(NativePath(SettingsPath())));
    EXPECT_EQ("../real/settings.sav", fsys::read_symlink(NativePath(SettingsPath())).string());
    EXPECT_EQ(321, LoadSettings(folder_).m_nKBytes);
    EXPECT_NE(std::string::npos, ReadBytes(target).find("m_nKBytes=321\r\n"));
    EXPECT_EQ(std::vector<ByteString>{"Morvandel.sav"}, NamesIn(temp_.Join("program")));
}

TEST_F(SettingsFilePosixTest, ReadOnlySettingsFileIsWrittenByItsOwner) {
    WriteBytes(SettingsPath(), "m_nKBytes=1\r\n");
    GiveToTestUser(SettingsPath());
    ASSERT_EQ(0, chmod(NativePath(SettingsPath()).c_str(), 0444));

    const DropSettings saved = ChangedSettings();
    EXPECT_EQ(kRefusedAsExpected, RunUnprivileged([&] {
                  return SaveWhereRefused(saved, folder_, SettingsPath(), O_WRONLY);
              }));
    EXPECT_EQ(321, LoadSettings(folder_).m_nKBytes);
    EXPECT_EQ(1, LoadSettings(folder_).m_bErrorLog);
}

TEST_F(SettingsFilePosixTest, WritableFileInLockedFolderIsWrittenInPlace) {
    WriteBytes(SettingsPath(), "m_nKBytes=1\r\n");
    GiveToTestUser(SettingsPath());
    ASSERT_EQ(0, chmod(NativePath(folder_).c_str(), 0555));

    const DropSettings saved = ChangedSettings();
    const ByteString probe = folder_ + "probe";
    EXPECT_EQ(kRefusedAsExpected, RunUnprivileged([&] {
                  return SaveWhereRefused(saved, folder_, probe, O_WRONLY | O_CREAT);
              }));
    EXPECT_EQ(321, LoadSettings(folder_).m_nKBytes);
    EXPECT_EQ(std::vector<ByteString>{"Morvandel.sav"}, NamesIn(temp_.Join("program")));
}

}  // namespace
