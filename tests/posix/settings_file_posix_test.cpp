// Settings-file cases that need POSIX: links, and permissions that really
// refuse.  Root ignores permission bits, so the permission cases run the save
// in a child process that has become an unprivileged user.
#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "fs/fs.h"
#include "support/child_process.h"
#include "support/test_support.h"

using namespace testing_support;
namespace fsys = std::filesystem;

namespace {

// Hands the path to the unprivileged user when the tests run as root; the
// ordinary user running the tests owns it already otherwise.
void GiveToTestUser(const ByteString& path) {
    if (geteuid() != 0) return;
    ASSERT_EQ(0, lchown(NativePath(path).c_str(), kNobodyId, kNobodyId));
}

// Saves after checking that a plain open of the named path with these flags
// is really refused to this user, so the case cannot pass vacuously.
std::string SaveWhereRefused(const DropSettings& settings, const ByteString& folder, const ByteString& refused,
                             int openFlags) {
    const int fd = open(NativePath(refused).c_str(), openFlags, 0644);
    if (fd >= 0) {
        close(fd);
        return "the open was not refused: the case would prove nothing";
    }
    try {
        SaveSettings(settings, folder);
    } catch (const FileError& error) {
        return "the save failed: cause " + std::to_string(static_cast<int>(error.cause())) + " at " + error.path();
    }
    return "";
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
    EXPECT_CHILD_PASSES(RunInChild(DropPrivileges, [&] { return SaveWhereRefused(saved, folder_, SettingsPath(), O_WRONLY); }));
    EXPECT_EQ(321, LoadSettings(folder_).m_nKBytes);
    EXPECT_EQ(1, LoadSettings(folder_).m_bErrorLog);
}

TEST_F(SettingsFilePosixTest, WritableFileInLockedFolderIsWrittenInPlace) {
    WriteBytes(SettingsPath(), "m_nKBytes=1\r\n");
    GiveToTestUser(SettingsPath());
    ASSERT_EQ(0, chmod(NativePath(folder_).c_str(), 0555));

    const DropSettings saved = ChangedSettings();
    const ByteString probe = folder_ + "probe";
    EXPECT_CHILD_PASSES(
        RunInChild(DropPrivileges, [&] { return SaveWhereRefused(saved, folder_, probe, O_WRONLY | O_CREAT); }));
    EXPECT_EQ(321, LoadSettings(folder_).m_nKBytes);
    EXPECT_EQ(std::vector<ByteString>{"Morvandel.sav"}, NamesIn(temp_.Join("program")));
}

}  // namespace
