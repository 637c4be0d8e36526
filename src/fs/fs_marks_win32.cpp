// Alternate data streams and sparse files of copies on Windows.
#include "fs/fs_marks_win32.h"

#include "fs/fs_seams.h"
#include "fs/fs_win32_internal.h"

#include <winioctl.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr DWORD kBlock = 64 * 1024;

class FindStreams {
public:
    explicit FindStreams(HANDLE handle) : handle_(handle) {}
    ~FindStreams() {
        if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
    }
    FindStreams(const FindStreams&) = delete;
    FindStreams& operator=(const FindStreams&) = delete;

private:
    HANDLE handle_;
};

class File {
public:
    explicit File(HANDLE handle) : handle_(handle) {}
    ~File() {
        if (valid()) CloseHandle(handle_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    bool Close() {
        const bool closed = CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE handle_;
};

// Errors of a file system that keeps no streams, or a destination that
// cannot hold one: nothing to copy, or the stream is dropped.
bool NoStreamsHere(DWORD error) {
    return error == ERROR_HANDLE_EOF || error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_NAME || error == ERROR_FILE_NOT_FOUND;
}

bool WriteAll(HANDLE to, const char* data, DWORD size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(to, data, size, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

// Copies `length` bytes from the current positions; with skipZeros, a block
// of zeros is passed over instead of written (a hole in a sparse copy).  With
// a pace, in its pieces; endsFile: the bytes reach the end of the file.
bool CopyBytes(HANDLE from, HANDLE to, int64_t length, bool skipZeros, fs_win32::CopyPace* pace = nullptr,
               bool endsFile = false) {
    std::vector<char> block(kBlock);
    size_t inPiece = 0;
    const auto pieceDone = [&](bool last) {
        const bool done = !pace || inPiece == 0 || pace->Done(inPiece, last);
        inPiece = 0;
        return done;
    };
    while (length > 0) {
        if (pace && inPiece >= pace->Next() && !pieceDone(false)) return false;
        DWORD got = 0;
        if (!ReadFile(from, block.data(), static_cast<DWORD>(std::min<int64_t>(length, kBlock)), &got, nullptr))
            return false;
        if (got == 0) return pieceDone(true);  // shorter than it was: the caller's checks see it
        const bool zeros = skipZeros && std::all_of(block.begin(), block.begin() + got, [](char c) { return c == 0; });
        if (zeros) {
            LARGE_INTEGER step;
            step.QuadPart = got;
            if (!SetFilePointerEx(to, step, nullptr, FILE_CURRENT)) return false;
        } else if (!WriteAll(to, block.data(), got)) {
            return false;
        }
        length -= got;
        inPiece += got;
    }
    return pieceDone(endsFile);
}

bool SeekTo(HANDLE file, int64_t offset) {
    LARGE_INTEGER at;
    at.QuadPart = offset;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0;
}

// The ranges of the file that hold data; false when the system cannot say.
bool AllocatedRanges(HANDLE file, int64_t size, std::vector<FILE_ALLOCATED_RANGE_BUFFER>& ranges) {
    FILE_ALLOCATED_RANGE_BUFFER query;
    query.FileOffset.QuadPart = 0;
    query.Length.QuadPart = size;
    std::vector<FILE_ALLOCATED_RANGE_BUFFER> found(64);
    for (;;) {
        DWORD bytes = 0;
        const BOOL done = DeviceIoControl(file, FSCTL_QUERY_ALLOCATED_RANGES, &query, sizeof query, found.data(),
                                          static_cast<DWORD>(found.size() * sizeof found[0]), &bytes, nullptr);
        if (!done && GetLastError() != ERROR_MORE_DATA) return false;
        const size_t count = bytes / sizeof found[0];
        ranges.insert(ranges.end(), found.begin(), found.begin() + static_cast<std::ptrdiff_t>(count));
        if (done) return true;
        if (count == 0) return false;
        const FILE_ALLOCATED_RANGE_BUFFER& last = found[count - 1];
        query.FileOffset.QuadPart = last.FileOffset.QuadPart + last.Length.QuadPart;
        query.Length.QuadPart = size - query.FileOffset.QuadPart;
        if (query.Length.QuadPart <= 0) return true;
    }
}

}  // namespace

bool CopyNamedStreams(const std::wstring& from, const std::wstring& to) {
    WIN32_FIND_STREAM_DATA stream;
    const HANDLE handle = FindFirstStreamW(from.c_str(), FindStreamInfoStandard, &stream, 0);
    if (handle == INVALID_HANDLE_VALUE) return NoStreamsHere(GetLastError());
    const FindStreams find(handle);
    do {
        const std::wstring name = stream.cStreamName;  // ":name:$DATA"; "::$DATA" is the main stream
        if (name == L"::$DATA") continue;
        File in(CreateFileW((from + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!in.valid()) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND) continue;  // removed since it was listed
            return false;
        }
        File out(CreateFileW((to + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        if (!out.valid()) {
            if (NoStreamsHere(GetLastError())) continue;
            return false;
        }
        if (!CopyBytes(in.get(), out.get(), INT64_MAX, false) || !out.Close()) return false;
    } while (FindNextStreamW(handle, &stream));
    return GetLastError() == ERROR_HANDLE_EOF;
}

int CopyKeepingHoles(HANDLE from, HANDLE to, const BY_HANDLE_FILE_INFORMATION& info, fs_win32::CopyPace& pace) {
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) && !fs_seams::TreatAsSparse()) return -1;
    const int64_t size = static_cast<int64_t>((uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    // A destination that takes no sparse mark (FAT, some shares) gets the
    // holes as zeros, as the system fills what is skipped.
    DWORD bytes = 0;
    DeviceIoControl(to, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &bytes, nullptr);
    std::vector<FILE_ALLOCATED_RANGE_BUFFER> ranges;
    const bool known = AllocatedRanges(from, size, ranges);
    if (!known) {
        ranges.assign(1, FILE_ALLOCATED_RANGE_BUFFER{});
        ranges[0].Length.QuadPart = size;
    }
    int64_t at = 0;
    for (const FILE_ALLOCATED_RANGE_BUFFER& range : ranges) {
        const int64_t start = range.FileOffset.QuadPart;
        const int64_t length = std::min(range.Length.QuadPart, size - start);
        if (length <= 0) continue;
        pace.Skipped(start - at);
        if (!SeekTo(from, start) || !SeekTo(to, start) ||
            !CopyBytes(from, to, length, !known, &pace, start + length >= size))
            return 0;
        at = start + length;
    }
    pace.Skipped(size - at);
    return SeekTo(to, size) && SetEndOfFile(to) ? 1 : 0;
}

