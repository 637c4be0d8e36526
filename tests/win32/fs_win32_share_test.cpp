// The Windows file layer where a batch files onto a file server: several
// files moved and copied at once on threads of their own, what counts as a
// lost server, and which moves go straight to a copy.  (Wine has no file
// servers: a lost connection is shown by its error codes alone.)
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "fs/fs.h"
#include "fs/fs_win32_internal.h"
#include "support/fs_seams.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// The content of file i of thread t: its own bytes, of a size that takes one
// piece or several.
std::string ContentOf(int thread, int file) {
    std::string content(static_cast<size_t>(1 + (thread * 7 + file) % 5) * 40000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + (i * (thread + 3) + file) % 26);
    return content;
}

}  // namespace

// Eight threads move files from another volume into one folder and copy
// files into it at the same moment: every file lands whole under its own
// name, every moved source is gone, and no temporary file is left behind.
TEST(Win32Threads, MovesAndCopiesOnSeveralThreadsAtOnceEachLandWhole) {
    const DWORD shm = GetFileAttributesW(L"Z:\\dev\\shm");
    if (shm == INVALID_FILE_ATTRIBUTES || !(shm & FILE_ATTRIBUTE_DIRECTORY)) GTEST_SKIP() << "no second volume here";
    TempFolder sources("Z:\\dev\\shm");
    TempFolder copied;
    TempFolder destination;
    constexpr int kThreads = 8;
    constexpr int kFiles = 12;
    const auto name = [](const char* kind, int thread, int file) {
        return ByteString(kind) + std::to_string(thread) + "-" + std::to_string(file) + ".bin";
    };
    for (int t = 0; t < kThreads; ++t) {
        for (int f = 0; f < kFiles; ++f) {
            WriteBytes(sources.Join(name("m", t, f)), ContentOf(t, f));
            WriteBytes(copied.Join(name("c", t, f)), ContentOf(t, f));
        }
    }
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int f = 0; f < kFiles; ++f) {
                const ByteString moved = name("m", t, f), copy = name("c", t, f);
                failures[t] += MoveNoOverwrite(sources.Join(moved), destination.Join(moved)) ? 0 : 1;
                failures[t] += CopyOverwrite(copied.Join(copy), destination.Join(copy)) ? 0 : 1;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
    EXPECT_EQ(NamesIn(destination.Path()).size(), size_t{2 * kThreads * kFiles}) << "nothing else is left there";
    EXPECT_TRUE(NamesIn(sources.Path()).empty());
    for (int t = 0; t < kThreads; ++t) {
        for (int f = 0; f < kFiles; ++f) {
            EXPECT_EQ(ReadBytes(destination.Join(name("m", t, f))), ContentOf(t, f)) << name("m", t, f);
            EXPECT_EQ(ReadBytes(destination.Join(name("c", t, f))), ContentOf(t, f)) << name("c", t, f);
        }
    }
}

// A file that takes the new name while the copy is made, small or large
// (large ones look at the name before they are copied, too): the copy never
// replaces it, and is taken back; the source stays.
TEST(Win32Publish, AMoveToAnotherVolumeNeverReplacesAFileThatTookItsNameMeanwhile) {
    const DWORD shm = GetFileAttributesW(L"Z:\\dev\\shm");
    if (shm == INVALID_FILE_ATTRIBUTES || !(shm & FILE_ATTRIBUTE_DIRECTORY)) GTEST_SKIP() << "no second volume here";
    TempFolder sources("Z:\\dev\\shm");
    TempFolder destination;
    for (const size_t size : {size_t{10000}, size_t{3} << 20}) {
        SCOPED_TRACE(size);
        const std::string content(size, 'm');
        WriteBytes(sources.Join("moved.bin"), content);
        SetBeforePublish([&] { WriteBytes(destination.Join("moved.bin"), "theirs"); });
        EXPECT_FALSE(MoveNoOverwrite(sources.Join("moved.bin"), destination.Join("moved.bin")));
        SetBeforePublish(nullptr);
        EXPECT_EQ(ReadBytes(destination.Join("moved.bin")), "theirs");
        EXPECT_EQ(NamesIn(destination.Path()), std::vector<ByteString>{"moved.bin"}) << "no copy is left";
        EXPECT_EQ(ReadBytes(sources.Join("moved.bin")), content);
        (void)RemoveFile(destination.Join("moved.bin"));
    }
}

// A folder that is only missing, or a file, is not a lost server.
TEST(Win32Unreachable, AFolderThatIsThereOrMissingIsNotUnreachable) {
    TempFolder temp;
    WriteBytes(temp.Join("file"), "x");
    for (const ByteString& folder : {temp.Path(), temp.Path() + "\\", temp.Join("missing"),
                                     temp.Join("missing\\deeper"), temp.Join("file")})
        EXPECT_FALSE(FolderUnreachable(folder)) << folder;
}

// The errors of a server or connection that went away end a batch; those of
// a name that is missing or refused, or of a server that answers, never do
// (every refused file would end it).
TEST(Win32Unreachable, OnlyTheErrorsOfALostServerCount) {
    for (const DWORD lost : {ERROR_NETNAME_DELETED, ERROR_SEM_TIMEOUT, ERROR_BAD_NETPATH, ERROR_UNEXP_NET_ERR,
                             ERROR_VC_DISCONNECTED, ERROR_CONNECTION_ABORTED, ERROR_HOST_UNREACHABLE,
                             ERROR_CONNECTION_UNAVAIL, ERROR_REM_NOT_LIST})
        EXPECT_TRUE(fs_win32::IsLostConnection(lost)) << lost;
    for (const DWORD answered : {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
                                 ERROR_NETWORK_ACCESS_DENIED, ERROR_LOGON_FAILURE, ERROR_BAD_NET_RESP,
                                 ERROR_NOT_SUPPORTED, ERROR_SHARING_VIOLATION, ERROR_DISK_FULL, ERROR_NETWORK_BUSY})
        EXPECT_FALSE(fs_win32::IsLostConnection(answered)) << answered;
}

// A file of a local drive moved to a server's share is copied without a
// rename tried first; any other pair is tried as a rename.
TEST(Win32Volumes, OnlyALocalFileMovedToAShareByItsNetworkNameGoesStraightToACopy) {
    const struct {
        const wchar_t* from;
        const wchar_t* to;
        bool copyOnly;
    } cases[] = {
        {L"C:\\a.txt", L"\\\\server\\share\\b.txt", true},
        {L"\\\\?\\C:\\a.txt", L"\\\\?\\UNC\\server\\share\\b.txt", true},
        {L"C:\\a.txt", L"D:\\b.txt", false},
        {L"C:\\a.txt", L"\\\\?\\C:\\b.txt", false},
        {L"\\\\server\\share\\a.txt", L"\\\\server\\share\\b.txt", false},
        {L"\\\\server\\share\\a.txt", L"C:\\b.txt", false},
        {L"C:\\a.txt", L"\\\\.\\C:\\b.txt", false},
        {L"relative.txt", L"\\\\server\\share\\b.txt", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fs_win32::NeverOneVolume(c.from, c.to), c.copyOnly)
            << std::string(c.from, c.from + wcslen(c.from)) << " " << std::string(c.to, c.to + wcslen(c.to));
}
