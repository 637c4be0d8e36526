// Copies on Windows keep what lies beside the main stream: the alternate data
// streams (Zone.Identifier above all) and the holes of sparse files.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fs/fs.h"
#include "fs/fs_marks_win32.h"
#include "text/text_win32.h"
#include "support/fs_seams.h"
#include "support/test_support.h"

namespace {

using namespace testing_support;

std::wstring Wide(const ByteString& path) {
    std::wstring wide;
    EXPECT_TRUE(Cp932ToWide(path, wide));
    return wide;
}

// Writes a whole stream ("file:name") or file; false when it cannot be made.
bool WriteStream(const std::wstring& path, const std::string& content) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
                    written == content.size();
    return CloseHandle(file) && ok;
}

std::string ReadStream(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(none)";
    std::string content;
    char block[4096];
    DWORD got = 0;
    while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0) content.append(block, got);
    CloseHandle(file);
    return content;
}

// The named streams of a file with their contents, as the system lists them.
std::map<std::wstring, std::string> StreamsOf(const std::wstring& path) {
    std::map<std::wstring, std::string> streams;
    WIN32_FIND_STREAM_DATA data;
    HANDLE find = FindFirstStreamW(path.c_str(), FindStreamInfoStandard, &data, 0);
    if (find == INVALID_HANDLE_VALUE) return streams;
    do {
        const std::wstring name = data.cStreamName;
        if (name != L"::$DATA") streams[name] = ReadStream(path + name);
    } while (FindNextStreamW(find, &data));
    FindClose(find);
    return streams;
}

// What the file takes on its volume; -1 when it cannot be read.
int64_t AllocatedSize(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    FILE_STANDARD_INFO info{};
    const bool ok = GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info);
    CloseHandle(file);
    return ok ? info.AllocationSize.QuadPart : -1;
}

}  // namespace

TEST(Win32Marks, CopiesKeepTheAlternateDataStreams) {
    TempFolder temp;
    const std::wstring source = Wide(temp.Join("download.pdf"));
    ASSERT_TRUE(WriteStream(source, "main"));
    const std::string zone = "[ZoneTransfer]\r\nZoneId=3\r\n";
    const bool kept = WriteStream(source + L":Zone.Identifier", zone) && WriteStream(source + L":empty", "") &&
                      StreamsOf(source).size() == 2;
    if (!kept) GTEST_SKIP() << "this system keeps no alternate data streams (Wine 8 makes a file of each)";
    const std::map<std::wstring, std::string> expected = {{L":Zone.Identifier:$DATA", zone}, {L":empty:$DATA", ""}};
    ASSERT_EQ(StreamsOf(source), expected);

    EXPECT_TRUE(CopyOverwrite(temp.Join("download.pdf"), temp.Join("copy.pdf")));
    EXPECT_EQ(StreamsOf(Wide(temp.Join("copy.pdf"))), expected);
    // A copy that replaces a file with streams of its own has the source's.
    ASSERT_TRUE(WriteStream(Wide(temp.Join("old.pdf")), "old"));
    ASSERT_TRUE(WriteStream(Wide(temp.Join("old.pdf")) + L":other", "x"));
    EXPECT_TRUE(CopyOverwrite(temp.Join("download.pdf"), temp.Join("old.pdf")));
    EXPECT_EQ(StreamsOf(Wide(temp.Join("old.pdf"))), expected);
    EXPECT_EQ(ReadStream(Wide(temp.Join("old.pdf"))), "main");
}

// A file of 64 MiB holding 3 bytes is copied sparse: it allocates no more
// than its source, and reads back the same.  Where the system does not mark
// files sparse (Wine), the copy is asked to treat it as sparse, which still
// leaves holes where blocks of zeros were.
TEST(Win32Marks, ASparseFileStaysSparse) {
    constexpr int64_t kSize = int64_t{64} << 20;
    const int64_t offsets[] = {0, kSize / 2, kSize - 1};
    TempFolder temp;
    const std::wstring source = Wide(temp.Join("sparse.img"));
    HANDLE file = CreateFileW(source.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD bytes = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &bytes, nullptr);
    for (const int64_t at : offsets) {
        LARGE_INTEGER position;
        position.QuadPart = at;
        ASSERT_TRUE(SetFilePointerEx(file, position, nullptr, FILE_BEGIN));
        ASSERT_TRUE(WriteFile(file, "x", 1, &bytes, nullptr));
    }
    CloseHandle(file);
    const bool marked = (GetFileAttributesW(source.c_str()) & FILE_ATTRIBUTE_SPARSE_FILE) != 0;
    testing_support::SetTreatAsSparse(!marked);
    const bool copied = CopyOverwrite(temp.Join("sparse.img"), temp.Join("copy.img"));
    testing_support::SetTreatAsSparse(false);
    ASSERT_TRUE(copied);

    const std::wstring copy = Wide(temp.Join("copy.img"));
    const std::string content = ReadStream(copy);
    ASSERT_EQ(static_cast<int64_t>(content.size()), kSize);
    std::string expected(static_cast<size_t>(kSize), '\0');
    for (const int64_t at : offsets) expected[static_cast<size_t>(at)] = 'x';
    EXPECT_TRUE(content == expected) << "the bytes differ";
    if (marked) {
        EXPECT_TRUE(GetFileAttributesW(copy.c_str()) & FILE_ATTRIBUTE_SPARSE_FILE);
    }
    const int64_t sourceAllocated = AllocatedSize(source);
    const int64_t copyAllocated = AllocatedSize(copy);
    ASSERT_GE(sourceAllocated, 0);
    if (sourceAllocated >= kSize) GTEST_SKIP() << "this volume keeps no holes, or does not tell";
    EXPECT_LE(copyAllocated, sourceAllocated + (1 << 20)) << "the copy allocates its holes";
}
