// The program's own files on Windows: the whole-file reads and writes of the
// settings file, the logs and the undo journal, the program's path, and the
// user's data folder.
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

// ---------------------------------------------------------------- files added to record by record

struct AppendFile::State {
    Handle handle;
};

AppendFile::AppendFile() = default;
AppendFile::AppendFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
AppendFile::~AppendFile() = default;
AppendFile::AppendFile(AppendFile&& other) noexcept = default;
AppendFile& AppendFile::operator=(AppendFile&& other) noexcept = default;

AppendFile AppendFile::Replace(const ByteString& path) {
    std::wstring native;
    if (!NativePathOf(path, native)) return AppendFile();
    // Readers may look at it meanwhile; CREATE_ALWAYS empties an existing file.
    Handle file(CreateFileW(native.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return AppendFile();
    auto state = std::make_unique<State>();
    state->handle = std::move(file);
    return AppendFile(std::move(state));
}

bool AppendFile::IsOpen() const { return state_ && state_->handle.valid(); }

bool AppendFile::Append(const ByteString& bytes) {
    // A record that cannot be written is no record: its cause concerns nobody.
    FileErrorCause cause;
    return IsOpen() && TryWriteAll(state_->handle.get(), bytes.data(), bytes.size(), cause);
}

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

DataFolderChoice UserDataFolder() {
    std::wstring base(32768, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", base.data(), static_cast<DWORD>(base.size()));
    if (length == 0 || length >= base.size()) return {};
    base.resize(length);
    if (!IsFullyQualified(base)) return {};
    while (base.size() > 3 && IsSlash(base.back())) base.pop_back();
    if (!IsSlash(base.back())) base += L'\\';
    ByteString folder;
    if (!WideToCp932(base + L"Tessarbolink", folder)) return {};
    CreateFolderChain(folder);
    // The user's own profile folder keeps other users out; what has the
    // folder's name must be a real folder, not a link or junction to another.
    switch (KindOf(folder)) {
    case EntryKind::Folder: return {folder + kPathSeparator, DataFolderFault::None};
    case EntryKind::Missing: return {};
    case EntryKind::FolderLink: return {folder + kPathSeparator, DataFolderFault::Link};
    case EntryKind::File:
    case EntryKind::Special: break;
    }
    return {folder + kPathSeparator, DataFolderFault::NotAFolder};
}
