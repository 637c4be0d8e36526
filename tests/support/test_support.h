#pragma once
// Helpers shared by the tests: fresh temporary folders, raw file access by
// code page 932 path, and a scripted BatchHost.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "batch/batch_host.h"
#include "batch/batch_run.h"
#include "fs/folders.h"
#include "text/byte_string.h"

namespace testing_support {

// The native path of a code page 932 path (through UTF-8).
std::filesystem::path NativePath(const ByteString& path);

// A fresh, empty temporary folder, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder();
    // Inside another folder than the system's temporary folder (for instance
    // on another file system).
    explicit TempFolder(const ByteString& parent);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder's path without a trailing separator.
    const ByteString& Path() const { return path_; }
    // Path() + separator + name.
    ByteString Join(const ByteString& name) const;

private:
    ByteString path_;
};

void WriteBytes(const ByteString& path, const std::string& content);
std::string ReadBytes(const ByteString& path);
bool Exists(const ByteString& path);
void MakeFolder(const ByteString& path);
// The names in a folder, sorted.
std::vector<ByteString> NamesIn(const ByteString& folder);

// While it lives, every write of an open file stores nothing after the given
// number of bytes, as on a full disk; the seam is turned off however the test ends.
class ShortWritesAfter {
public:
    explicit ShortWritesAfter(int64_t bytes);
    ~ShortWritesAfter();
    ShortWritesAfter(const ShortWritesAfter&) = delete;
    ShortWritesAfter& operator=(const ShortWritesAfter&) = delete;
};

// Paths dropped as they are, each with a code page 932 form.
std::vector<DroppedPath> AsDropped(const std::vector<ByteString>& paths);

// A folder's whole listing, through OpenFolder; false when it cannot be read.
bool ListFolder(const ByteString& folder, std::vector<FolderEntry>& entries);
// Whether a folder lists no entry; nullopt when it cannot be listed.
std::optional<bool> FolderIsEmpty(const ByteString& folder);

// A BatchHost that answers questions from a script and records everything.
class ScriptedHost : public BatchHost {
public:
    struct Box {
        std::string kind;  // "ask" or "show"
        ByteString text;
        ByteString caption;
    };

    bool AskYesNo(const ByteString& text, const ByteString& caption) override;
    void ShowMessage(const ByteString& text, const ByteString& caption) override;
    void SetTitle(const ByteString& text) override;

    std::vector<bool> answers;  // consumed in order; Yes when the script runs out
    std::function<void()> onTitle;  // called after each title is recorded, mid-batch
    std::vector<Box> boxes;
    std::vector<ByteString> titles;

private:
    size_t nextAnswer_ = 0;
};

}  // namespace testing_support
