// The seams of the file layer as the tests have them: each does what the
// program's does until a test sets it otherwise (support/fs_seams.h).
#include "support/fs_seams.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "fs/fs_seams.h"

namespace {

// Bytes that writes may still store before they come up short; negative when
// the seam is off.
std::atomic<int64_t> g_shortWriteBudget{-1};
std::atomic<int64_t> g_writeMicroseconds{0};
std::atomic<bool> g_renameNoReplace{true};
std::atomic<bool> g_unnamedTempFiles{true};
std::atomic<bool> g_treatAsSparse{false};

std::function<void()>& BeforePublishHook() {
    static std::function<void()> hook;
    return hook;
}

std::function<void()>& BeforeSourceRemovalHook() {
    static std::function<void()> hook;
    return hook;
}

std::function<void(const std::wstring&, const std::wstring&)>& AfterMoveReportedHook() {
    static std::function<void(const std::wstring&, const std::wstring&)> hook;
    return hook;
}

}  // namespace

namespace fs_seams {

size_t WriteAllowance(size_t size) {
    const int64_t budget = g_shortWriteBudget.load();
    return budget < 0 ? size : std::min(size, static_cast<size_t>(budget));
}

void Wrote(size_t bytes) {
    if (g_shortWriteBudget.load() >= 0) g_shortWriteBudget.fetch_sub(static_cast<int64_t>(bytes));
    if (const int64_t slow = g_writeMicroseconds.load(); slow > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(slow));
}

bool KernelCopyAllowed() { return g_shortWriteBudget.load() < 0 && g_writeMicroseconds.load() == 0; }
bool RenameNoReplaceAllowed() { return g_renameNoReplace; }
bool UnnamedTempFilesAllowed() { return g_unnamedTempFiles; }
bool TreatAsSparse() { return g_treatAsSparse; }

void BeforePublish() {
    if (BeforePublishHook()) BeforePublishHook()();
}

void BeforeSourceRemoval() {
    if (BeforeSourceRemovalHook()) BeforeSourceRemovalHook()();
}

void AfterMoveReported(const std::wstring& from, const std::wstring& to) {
    if (AfterMoveReportedHook()) AfterMoveReportedHook()(from, to);
}

}  // namespace fs_seams

namespace testing_support {

void SetShortWritesAfter(int64_t bytes) { g_shortWriteBudget.store(bytes < 0 ? -1 : bytes); }
void SetSlowWrites(std::chrono::microseconds perWrite) { g_writeMicroseconds.store(perWrite.count()); }
void SetBeforePublish(std::function<void()> hook) { BeforePublishHook() = std::move(hook); }
void SetBeforeSourceRemoval(std::function<void()> hook) { BeforeSourceRemovalHook() = std::move(hook); }
void SetAfterMoveReported(std::function<void(const std::wstring&, const std::wstring&)> hook) {
    AfterMoveReportedHook() = std::move(hook);
}
void SetUnnamedTempFiles(bool allowed) { g_unnamedTempFiles = allowed; }
void SetRenameNoReplace(bool allowed) { g_renameNoReplace = allowed; }
void SetTreatAsSparse(bool on) { g_treatAsSparse = on; }

}  // namespace testing_support
