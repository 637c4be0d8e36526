#include "win32/window_handoff_win32.h"

#include <sddl.h>

#include <cstdio>

#include "fs/folders.h"

namespace {

// Marks a WM_COPYDATA message as a later start's files: the whole paths,
// each ended by a NUL character.
constexpr ULONG_PTR kHandOverMark = 0x54424C31;  // "TBL1"

// The user's SID as text: the names of one user's objects are no other's.
std::wstring UserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
    std::wstring sid;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    wchar_t* text = nullptr;
    if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    CloseHandle(token);
    return sid;
}

// The names' common part: the session's namespace, the user, the data folder.
std::wstring NameFor(const ByteString& dataFolder) {
    const std::optional<FileId> id = FileIdOf(dataFolder);
    const std::wstring sid = UserSid();
    if (!id || sid.empty()) return std::wstring();
    wchar_t folder[64];
    swprintf(folder, 64, L"%llx-%llx", static_cast<unsigned long long>(id->volume),
             static_cast<unsigned long long>(id->index));
    return L"Local\\Tessarbolink-" + sid + L"-" + folder;
}

std::wstring MessageOf(const std::vector<std::wstring>& files) {
    std::wstring message;
    for (const std::wstring& file : files) {
        message += file;
        message += L'\0';
    }
    return message;
}

}  // namespace

// Which window takes the files, published by the window's process.
struct LaterStarts::Shared {
    volatile LONG64 window;   // the HWND; 0 while none takes files
    volatile LONG64 process;  // its process
};

LaterStarts::LaterStarts(HANDLE mutex, HANDLE block, Shared* shared) : mutex_(mutex), block_(block), shared_(shared) {
    InterlockedExchange64(&shared_->window, 0);
    InterlockedExchange64(&shared_->process, GetCurrentProcessId());
}

LaterStarts::~LaterStarts() {
    InterlockedExchange64(&shared_->window, 0);
    UnmapViewOfFile(shared_);
    CloseHandle(block_);
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
}

void LaterStarts::WindowIsUp(HWND window) {
    InterlockedExchange64(&shared_->window, reinterpret_cast<LONG64>(window));
}

WindowClaim ClaimWindow(const ByteString& dataFolder, const std::vector<std::wstring>& files) {
    const std::wstring name = NameFor(dataFolder);
    if (name.empty()) return {};
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, (name + L"-window").c_str());
    if (!mutex) return {};
    const HANDLE block = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                           sizeof(LaterStarts::Shared), (name + L"-taker").c_str());
    auto* shared = block ? static_cast<LaterStarts::Shared*>(
                               MapViewOfFile(block, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LaterStarts::Shared)))
                         : nullptr;
    if (!shared) {
        if (block) CloseHandle(block);
        CloseHandle(mutex);
        return {};
    }
    std::wstring message = MessageOf(files);
    COPYDATASTRUCT data{kHandOverMark, static_cast<DWORD>(message.size() * sizeof(wchar_t)), message.data()};
    for (;;) {
        // Acquired (also from a window that was killed): this is the window.
        const DWORD wait = WaitForSingleObject(mutex, 0);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
            return {false, std::make_unique<LaterStarts>(mutex, block, shared)};
        if (wait != WAIT_TIMEOUT) break;
        // The window of the process that owns it, once that window is up.
        const auto window = reinterpret_cast<HWND>(InterlockedCompareExchange64(&shared->window, 0, 0));
        const auto process = static_cast<DWORD>(InterlockedCompareExchange64(&shared->process, 0, 0));
        DWORD owner = 0;
        if (window && GetWindowThreadProcessId(window, &owner) && owner == process) {
            // The window may come to the front: this start is the user's.
            AllowSetForegroundWindow(process);
            // Waits while the window is busy (it answers during a batch).
            if (SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)) == TRUE) {
                UnmapViewOfFile(shared);
                CloseHandle(block);
                CloseHandle(mutex);
                return {true, nullptr};
            }
        }
        // Not up yet, or closing: wait a moment, or for the mutex its
        // process leaves behind when it ends.
        const DWORD waited = WaitForSingleObject(mutex, 50);
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
            return {false, std::make_unique<LaterStarts>(mutex, block, shared)};
        if (waited != WAIT_TIMEOUT) break;
    }
    UnmapViewOfFile(shared);
    CloseHandle(block);
    CloseHandle(mutex);
    return {};
}

std::optional<std::vector<std::wstring>> HandedOverFiles(const COPYDATASTRUCT& data) {
    if (data.dwData != kHandOverMark || data.cbData % sizeof(wchar_t) != 0 || (data.cbData > 0 && !data.lpData))
        return std::nullopt;
    const std::wstring message(static_cast<const wchar_t*>(data.lpData), data.cbData / sizeof(wchar_t));
    if (!message.empty() && message.back() != L'\0') return std::nullopt;
    std::vector<std::wstring> files;
    for (size_t at = 0; at < message.size();) {
        const size_t end = message.find(L'\0', at);
        files.push_back(message.substr(at, end - at));
        at = end + 1;
    }
    return files;
}
