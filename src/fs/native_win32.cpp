// The groundwork of the file layer on Windows.  Everything goes through the
// wide-character APIs: a code page 932 path is converted strictly to UTF-16
// (a path that has no such form, or that would not convert back to the same
// bytes, makes the operation fail), and a path too long for the classic
// 260-character limit is normalised and given the "\\?\" prefix, so it
// behaves exactly like a short one.
#include <algorithm>
#include <atomic>

#include "fs/fs_seams.h"
#include "fs/fs_win32_internal.h"
#include "text/text_win32.h"

// A user's disk quota is used up (not in every SDK's headers).
#ifndef ERROR_DISK_QUOTA_EXCEEDED
#define ERROR_DISK_QUOTA_EXCEEDED 1295L
#endif

const char kPathSeparator = '\\';

namespace {

// From this length on, a path may hit the classic limits (248 characters for
// a folder, 260 for a file) and is handed over in its long form.
constexpr size_t kLongPathFrom = 248;

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

// The folder part of a native path, its last separator included; empty when
// it has none.
std::wstring FolderPartOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// A name for a file beside another that nobody else uses: the process id, a
// counter and the clock.  Copies on several threads at once each get their
// own number.
std::wstring FreshTempName() {
    static std::atomic<unsigned> counter{0};
    return L".tessarbolink-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) + L"-" +
           std::to_wstring(GetTickCount64()) + L".tmp";
}

std::wstring TempPathBeside(const std::wstring& target) { return LongPathForm(FolderPartOf(target) + FreshTempName()); }

bool IsNameTaken(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

}  // namespace

namespace fs_win32 {

// ---------------------------------------------------------------- paths

bool IsDevicePath(const std::wstring& path) { return StartsWith(path, L"\\\\?\\") || StartsWith(path, L"\\\\.\\"); }

bool IsFullyQualified(const std::wstring& path) {
    const bool drive = path.size() >= 3 && path[1] == L':' && IsSlash(path[2]);
    const bool unc = path.size() >= 2 && IsSlash(path[0]) && IsSlash(path[1]);
    return drive || unc;
}

bool HasWildcard(const std::wstring& native) {
    const size_t from = IsDevicePath(native) ? 4 : 0;
    return native.find_first_of(L"*?", from) != std::wstring::npos;
}

bool WidePathOf(const ByteString& path, std::wstring& wide) {
    return Cp932ToWide(path, wide) && wide.find(L'\0') == std::wstring::npos;
}

// ---------------------------------------------------------------- handles

Handle OpenExclusive(const std::wstring& native, DWORD access, DWORD disposition) {
    return Handle(CreateFileW(native.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

Handle OpenShared(const std::wstring& native, DWORD access, DWORD share, DWORD disposition) {
    return Handle(CreateFileW(native.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

Handle OpenForQuery(const std::wstring& native, bool followLinks) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    return Handle(CreateFileW(native.c_str(), 0, share, nullptr, OPEN_EXISTING, flags, nullptr));
}

// ---------------------------------------------------------------- errors and writing

FileErrorCause CauseOfError(DWORD error) {
    switch (error) {
    case ERROR_SUCCESS: return FileErrorCause::None;
    case ERROR_FILE_NOT_FOUND: return FileErrorCause::FileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_FILENAME_EXCED_RANGE: return FileErrorCause::BadPath;
    case ERROR_TOO_MANY_OPEN_FILES: return FileErrorCause::TooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return FileErrorCause::AccessDenied;
    case ERROR_INVALID_HANDLE: return FileErrorCause::InvalidFile;
    case ERROR_CURRENT_DIRECTORY: return FileErrorCause::RemoveCurrentDir;
    case ERROR_CANNOT_MAKE: return FileErrorCause::DirectoryFull;
    case ERROR_NEGATIVE_SEEK:
    case ERROR_SEEK:
    case ERROR_SEEK_ON_DEVICE: return FileErrorCause::BadSeek;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
    case ERROR_NOT_READY:
    case ERROR_BAD_UNIT:
    case ERROR_BAD_COMMAND:
    case ERROR_BAD_LENGTH: return FileErrorCause::HardIO;
    case ERROR_SHARING_VIOLATION:
    case ERROR_SHARING_BUFFER_EXCEEDED: return FileErrorCause::SharingViolation;
    case ERROR_LOCK_VIOLATION: return FileErrorCause::LockViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_QUOTA_EXCEEDED: return FileErrorCause::DiskFull;
    case ERROR_HANDLE_EOF: return FileErrorCause::EndOfFile;
    default: return FileErrorCause::Generic;
    }
}

[[noreturn]] void ThrowLastError(FileStep step, const ByteString& path) {
    throw FileError(CauseOfError(GetLastError()), step, path);
}

bool TryWriteAll(HANDLE file, const char* data, size_t size, FileErrorCause& cause) {
    while (size > 0) {
        const DWORD asked = static_cast<DWORD>(std::min<size_t>(size, kBlockSize));
        const DWORD allowed = static_cast<DWORD>(fs_seams::WriteAllowance(asked));
        DWORD written = 0;
        if (allowed > 0 && !WriteFile(file, data, allowed, &written, nullptr)) {
            cause = CauseOfError(GetLastError());
            return false;
        }
        fs_seams::Wrote(written);
        if (written < asked) {
            cause = FileErrorCause::DiskFull;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

void WriteAll(HANDLE file, const ByteString& text, const ByteString& path) {
    FileErrorCause cause = FileErrorCause::None;
    if (!TryWriteAll(file, text.data(), text.size(), cause)) throw FileError(cause, FileStep::Write, path);
}

void CloseOrThrow(Handle& file, const ByteString& path) {
    if (!file.Close()) ThrowLastError(FileStep::Close, path);
}

void SeekOrThrow(HANDLE file, DWORD from, const ByteString& path) {
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file, zero, nullptr, from)) ThrowLastError(FileStep::Seek, path);
}

// ---------------------------------------------------------------- attributes

bool IsReadOnlyFile(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & FILE_ATTRIBUTE_READONLY);
}

void ClearReadOnly(const std::wstring& native, DWORD attributes) {
    if (!IsReadOnlyFile(attributes)) return;
    const DWORD rest = attributes & ~FILE_ATTRIBUTE_READONLY;
    SetFileAttributesW(native.c_str(), rest == 0 ? FILE_ATTRIBUTE_NORMAL : rest);
}

std::optional<FileId> IdOf(const std::wstring& native, bool followLinks) {
    const Handle handle = OpenForQuery(native, followLinks);
    BY_HANDLE_FILE_INFORMATION info;
    if (!handle.valid() || !GetFileInformationByHandle(handle.get(), &info)) return std::nullopt;
    return FileId{info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// ---------------------------------------------------------------- temporary files

void RemoveTemp(const std::wstring& tempPath) {
    ClearReadOnly(tempPath, AttributesOf(tempPath));
    DeleteFileW(tempPath.c_str());
}

Handle CreateTempBeside(const std::wstring& target, std::wstring& tempPath, DWORD access) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = TempPathBeside(target);
        Handle file = OpenExclusive(tempPath, access, CREATE_NEW);
        if (file.valid() || !IsNameTaken(GetLastError())) return file;
    }
    return Handle();
}

}  // namespace fs_win32

using namespace fs_win32;

// ---------------------------------------------------------------- fs_win32.h

std::wstring FullPathOf(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return std::wstring();
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);  // too small: `length` now counts the terminator
    }
}

std::wstring LongPathForm(const std::wstring& path) {
    if (IsDevicePath(path)) return path;
    if (path.size() < kLongPathFrom && IsFullyQualified(path)) return path;
    const std::wstring full = FullPathOf(path);
    if (full.size() < kLongPathFrom) return path;
    if (IsDevicePath(full)) return full;
    if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

bool NativePathOf(const ByteString& path, std::wstring& native) {
    std::wstring wide;
    if (!WidePathOf(path, wide)) return false;
    native = LongPathForm(wide);
    return true;
}

std::wstring ExecutablePathWide() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::wstring();
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        if (buffer.size() > 65536) return std::wstring();
        buffer.resize(buffer.size() * 2);
    }
}
