// The program's own files on Windows: the whole-file reads and writes of the
// settings file, the logs and the undo journal, the program's path, and the
// user's data folder.
#include <algorithm>
#include <string>

#include "fs/fs_win32_internal.h"
#include "fs/program_files.h"
#include "text/text_win32.h"

using namespace fs_win32;

namespace {

// The file a link leads to, so that it is the target that gets replaced and
// the link stays; the path itself when it is no link.
std::wstring ThroughLink(const std::wstring& native) {
    if (!IsLinkByAttributes(AttributesOf(native), native)) return native;
    const Handle target = OpenForQuery(native, true);
    if (!target.valid()) return native;
    std::wstring final(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(target.get(), final.data(), static_cast<DWORD>(final.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return native;
        if (length < final.size()) {
            final.resize(length);
            return final;
        }
        final.resize(length + 1);
    }
}

// Puts a finished temporary file in the place of `target`.  A read-only mark
// on the old file does not stop it (the new file is not read-only); hidden
// and system marks carry over.
bool ReplaceWithTemp(const std::wstring& tempPath, const std::wstring& target) {
    const DWORD old = AttributesOf(target);
    ClearReadOnly(target, old);
    if (!MoveFileExW(tempPath.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        if (IsReadOnlyFile(old)) SetFileAttributesW(target.c_str(), old);
        return false;
    }
    if (old != INVALID_FILE_ATTRIBUTES) {
        const DWORD marks = old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        if (marks != 0) SetFileAttributesW(target.c_str(), AttributesOf(target) | marks);
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------- whole-file reads and writes

ByteString ReadTextFile(const ByteString& path) {
    std::wstring native;
    if (!NativePathOf(path, native)) return ByteString();
    Handle file = OpenShared(native, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (!file.valid()) return ByteString();
    ByteString content;
    for (;;) {
        const size_t at = content.size();
        content.resize(at + kBlockSize);
        DWORD got = 0;
        if (!ReadFile(file.get(), content.data() + at, kBlockSize, &got, nullptr)) ThrowLastError(FileStep::Read, path);
        content.resize(at + got);
        if (got == 0) break;
    }
    CloseOrThrow(file, path);
    return content;
}

bool WriteTextFile(const ByteString& path, const ByteString& text) {
    std::wstring native;
    if (!NativePathOf(path, native)) return false;
    ClearReadOnly(native, AttributesOf(native));
    // OPEN_ALWAYS opens the existing file or creates it in one step.
    Handle file = OpenExclusive(native, GENERIC_WRITE, OPEN_ALWAYS);
    if (!file.valid()) return false;
    SeekOrThrow(file.get(), FILE_BEGIN, path);
    if (!SetEndOfFile(file.get())) ThrowLastError(FileStep::Truncate, path);
    WriteAll(file.get(), text, path);
    CloseOrThrow(file, path);
    return true;
}

bool WriteTextFileSafely(const ByteString& path, const ByteString& text) {
    std::wstring native;
    if (!NativePathOf(path, native)) return false;
    const std::wstring target = ThroughLink(native);
    std::wstring temp;
    Handle file = CreateTempBeside(target, temp);
    if (!file.valid()) return WriteTextFile(path, text);
    try {
        WriteAll(file.get(), text, path);
        if (!FlushFileBuffers(file.get())) ThrowLastError(FileStep::Write, path);
        CloseOrThrow(file, path);
    } catch (...) {
        (void)file.Close();  // the temporary file is given up
        RemoveTemp(temp);
        throw;
    }
    if (ReplaceWithTemp(temp, target)) return true;
    // The old file cannot be replaced (a folder, a file another program
    // holds, a folder that allows writing but no renaming): write in place,
    // which reports what stops it.
    RemoveTemp(temp);
    return WriteTextFile(path, text);
}

bool AppendTextToFile(const ByteString& path, const ByteString& text) {
    std::wstring native;
    if (!NativePathOf(path, native)) return false;
    // Checked here, not left to the open: an administrator may open a
    // read-only file for writing on some systems.
    if (IsReadOnlyFile(AttributesOf(native))) return false;
    // OPEN_ALWAYS never truncates: an existing log is only ever added to.
    Handle file = OpenShared(native, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
    if (!file.valid()) return false;
    SeekOrThrow(file.get(), FILE_END, path);
    WriteAll(file.get(), text, path);
    CloseOrThrow(file, path);
    return true;
}

// ---------------------------------------------------------------- the program's own files

struct AppendFile::State {
    Handle handle;
    std::wstring path;
    LARGE_INTEGER size{};  // where the last whole append ended
};

AppendFile::AppendFile() = default;
AppendFile::AppendFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
AppendFile::~AppendFile() = default;
AppendFile::AppendFile(AppendFile&& other) noexcept = default;
AppendFile& AppendFile::operator=(AppendFile&& other) noexcept = default;

AppendFile AppendFile::CreateNew(const ByteString& path) {
    std::wstring native;
    if (!NativePathOf(path, native) || !RemoveOwnFile(path)) return AppendFile();
    // CREATE_NEW never opens what is there, a link included.  Readers may
    // look at it meanwhile, and it may be renamed while open.
    UserOnlySecurity security;
    Handle file(CreateFileW(native.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            security.Attributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return AppendFile();
    auto state = std::make_unique<State>();
    state->handle = std::move(file);
    state->path = std::move(native);
    return AppendFile(std::move(state));
}

bool AppendFile::IsOpen() const { return state_ && state_->handle.valid(); }

bool AppendFile::Append(const ByteString& bytes) {
    if (!IsOpen()) return false;
    FileErrorCause cause;
    if (TryWriteAll(state_->handle.get(), bytes.data(), bytes.size(), cause)) {
        state_->size.QuadPart += static_cast<LONGLONG>(bytes.size());
        return true;
    }
    // Cut back to the last whole append; a file that cannot be is given up.
    if (!SetFilePointerEx(state_->handle.get(), state_->size, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(state_->handle.get()))
        (void)state_->handle.Close();
    return false;
}

bool AppendFile::Rename(const ByteString& path) {
    std::wstring native;
    // MOVEFILE_REPLACE_EXISTING replaces a file or a link to one, never a folder.
    if (!IsOpen() || !NativePathOf(path, native) ||
        !MoveFileExW(state_->path.c_str(), native.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return false;
    state_->path = std::move(native);
    return true;
}

bool RemoveOwnFile(const ByteString& path) {
    std::wstring native;
    if (!NativePathOf(path, native)) return false;
    const DWORD attributes = AttributesOf(native);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    ClearReadOnly(native, attributes);
    return DeleteFileW(native.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

struct OwnFileReader::State {
    Handle handle;
    uint64_t size = 0;
};

OwnFileReader::OwnFileReader() = default;
OwnFileReader::OwnFileReader(std::unique_ptr<State> state) : state_(std::move(state)) {}
OwnFileReader::~OwnFileReader() = default;
OwnFileReader::OwnFileReader(OwnFileReader&& other) noexcept = default;
OwnFileReader& OwnFileReader::operator=(OwnFileReader&& other) noexcept = default;

OwnFileReader OwnFileReader::Open(const ByteString& path) {
    std::wstring native;
    if (!NativePathOf(path, native)) return OwnFileReader();
    // The file itself, never what a link leads to; it may be replaced or
    // removed while it is read.
    Handle file(CreateFileW(native.c_str(), GENERIC_READ | READ_CONTROL,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file.valid() || GetFileType(file.get()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        (KeepsOwners(file.get()) && !OwnedByUserAlone(file.get())))
        return OwnFileReader();
    auto state = std::make_unique<State>();
    state->handle = std::move(file);
    state->size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    return OwnFileReader(std::move(state));
}

bool OwnFileReader::IsOpen() const { return state_ && state_->handle.valid(); }

uint64_t OwnFileReader::Size() const { return IsOpen() ? state_->size : 0; }

int64_t OwnFileReader::ReadAt(uint64_t offset, char* buffer, size_t size) const {
    if (!IsOpen()) return -1;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(state_->handle.get(), buffer, static_cast<DWORD>(std::min<size_t>(size, kBlockSize)), &got, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return got;
}

struct ProgramLock::State {
    Handle handle;
};

ProgramLock::ProgramLock() = default;
ProgramLock::ProgramLock(std::unique_ptr<State> state) : state_(std::move(state)) {}
ProgramLock::~ProgramLock() = default;  // closing the file ends the lock
ProgramLock::ProgramLock(ProgramLock&& other) noexcept = default;
ProgramLock& ProgramLock::operator=(ProgramLock&& other) noexcept = default;

ProgramLock ProgramLock::Take(const ByteString& path, Outcome& outcome) {
    outcome = Outcome::Unavailable;
    std::wstring native;
    if (!NativePathOf(path, native)) return ProgramLock();
    UserOnlySecurity security;
    Handle file(CreateFileW(native.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            security.Attributes(), OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file.valid() || !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return ProgramLock();
    // A lock of this handle: two opens in one process exclude each other as
    // two processes do.
    OVERLAPPED whole{};
    if (!LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
        if (GetLastError() == ERROR_LOCK_VIOLATION) outcome = Outcome::Busy;
        return ProgramLock();
    }
    outcome = Outcome::Taken;
    auto state = std::make_unique<State>();
    state->handle = std::move(file);
    return ProgramLock(std::move(state));
}

bool ProgramLock::Held() const { return state_ && state_->handle.valid(); }

// ---------------------------------------------------------------- the program and its data folder

ByteString ExecutablePath() {
    ByteString path;
    return WideToCp932(ExecutablePathWide(), path) ? path : ByteString();
}

bool CanCreateFileIn(const ByteString& folder) {
    if (folder.empty()) return false;
    // A name of this process and moment; the file goes when it is closed, so
    // it is never left behind, and one that could not be removed is never made.
    const ByteString name = "Tessarbolink-" + std::to_string(GetCurrentProcessId()) + "-" +
                            std::to_string(GetTickCount64()) + ".tmp";
    std::wstring native;
    if (!NativePathOf(folder + name, native)) return false;
    const HANDLE probe = CreateFileW(native.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE,
                                     nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    CloseHandle(probe);
    return true;
}

namespace {

// Whether the user's data folder is the user's alone, asked of the folder
// itself (never of what a link of its name leads to).
DataFolderFault FaultOfDataFolder(const std::wstring& native) {
    const Handle folder(CreateFileW(native.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!folder.valid() || !GetFileInformationByHandle(folder.get(), &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return DataFolderFault::NotAFolder;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return DataFolderFault::Link;
    // A volume that keeps no owners (FAT) lets every user write everywhere.
    if (!KeepsOwners(folder.get())) return DataFolderFault::OthersMayWrite;
    // The settings and logs are created in it with what it passes on.
    switch (HoldingOf(folder.get(), true)) {
    case Holding::UserAlone: return DataFolderFault::None;
    case Holding::OtherOwner: return DataFolderFault::OtherOwner;
    case Holding::OthersMayChange: break;
    }
    return DataFolderFault::OthersMayWrite;
}

}  // namespace

DataFolderChoice UserDataFolder() {
    std::wstring base(32768, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", base.data(), static_cast<DWORD>(base.size()));
    if (length == 0 || length >= base.size()) return {};
    base.resize(length);
    if (!IsFullyQualified(base)) return {};
    while (base.size() > 3 && IsSlash(base.back())) base.pop_back();
    if (!IsSlash(base.back())) base += L'\\';
    ByteString above, folder;
    std::wstring native;
    if (!WideToCp932(base, above) || !WideToCp932(base + L"Tessarbolink", folder) || !NativePathOf(folder, native))
        return {};
    CreateFolderChain(above);
    // A folder the program makes itself is the user's alone from the start.
    (void)CreateFolderOfUsersOwn(native);
    switch (KindOf(folder)) {
    case EntryKind::Folder: return {folder + kPathSeparator, FaultOfDataFolder(native)};
    case EntryKind::Missing: return {};
    case EntryKind::FolderLink: return {folder + kPathSeparator, DataFolderFault::Link};
    case EntryKind::File:
    case EntryKind::Special: break;
    }
    return {folder + kPathSeparator, DataFolderFault::NotAFolder};
}
