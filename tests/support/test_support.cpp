#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <iterator>
#include <algorithm>
#include <stdexcept>

#include "fs/fs.h"
#include "support/fs_seams.h"
#include "text/encoding.h"

namespace testing_support {

namespace fsys = std::filesystem;

fsys::path NativePath(const ByteString& path) {
    std::string utf8;
    if (!Cp932ToUtf8(path, utf8)) throw std::runtime_error("test path has no UTF-8 form");
    return fsys::path(std::u8string(utf8.begin(), utf8.end()));
}

static ByteString FromNative(const fsys::path& path) {
    const std::u8string u8 = path.u8string();
    ByteString text;
    if (!Utf8ToCp932(std::string(u8.begin(), u8.end()), text))
        throw std::runtime_error("temporary path has no code page 932 form");
    return text;
}

TempFolder::TempFolder() : TempFolder(FromNative(fsys::temp_directory_path())) {}

TempFolder::TempFolder(const ByteString& parent) {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fsys::path candidate = NativePath(parent) /
            ("tessarbolink-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::error_code error;
        if (fsys::create_directory(candidate, error)) {
            path_ = FromNative(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempFolder::~TempFolder() {
    std::error_code error;
    const fsys::path native = NativePath(path_);
    // Give back write permission that a test may have taken away, then remove.
    for (auto it = fsys::recursive_directory_iterator(native, error);
         !error && it != fsys::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_symlink(error))
            fsys::permissions(it->path(), fsys::perms::owner_all, fsys::perm_options::add, error);
    }
    fsys::remove_all(native, error);
}

ByteString TempFolder::Join(const ByteString& name) const { return path_ + kPathSeparator + name; }

void WriteBytes(const ByteString& path, const std::string& content) {
    std::ofstream out(NativePath(path), std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write test file");
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string ReadBytes(const ByteString& path) {
    std::ifstream in(NativePath(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read test file");
    std::ostringstream content;  // whole buffers at a time: large files too
    content << in.rdbuf();
    return std::move(content).str();
}

bool Exists(const ByteString& path) {
    std::error_code error;
    return fsys::exists(fsys::symlink_status(NativePath(path), error));
}

void MakeFolder(const ByteString& path) {
    std::error_code error;
    fsys::create_directories(NativePath(path), error);
    if (error) throw std::runtime_error("cannot create test folder");
}

std::vector<ByteString> NamesIn(const ByteString& folder) {
    std::vector<ByteString> names;
    for (const auto& entry : fsys::directory_iterator(NativePath(folder)))
        names.push_back(FromNative(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

ShortWritesAfter::ShortWritesAfter(int64_t bytes) { SetShortWritesAfter(bytes); }

ShortWritesAfter::~ShortWritesAfter() { SetShortWritesAfter(-1); }

std::vector<DroppedPath> AsDropped(const std::vector<ByteString>& paths) {
    std::vector<DroppedPath> dropped;
    for (const ByteString& path : paths) dropped.push_back({path, true});
    return dropped;
}

bool ListFolder(const ByteString& folder, std::vector<FolderEntry>& entries) {
    entries.clear();
    const OpenFolder open = OpenFolder::Open(folder);
    return open.IsOpen() && open.List(entries);
}

std::optional<bool> FolderIsEmpty(const ByteString& folder) { return OpenFolder::Open(folder).IsEmpty(); }

bool ScriptedHost::AskYesNo(const ByteString& text, const ByteString& caption) {
    boxes.push_back({"ask", text, caption});
    return nextAnswer_ < answers.size() ? answers[nextAnswer_++] : true;
}

void ScriptedHost::ShowMessage(const ByteString& text, const ByteString& caption) {
    boxes.push_back({"show", text, caption});
}

void ScriptedHost::SetTitle(const ByteString& text) {
    titles.push_back(text);
    if (onTitle) onTitle();
}

}  // namespace testing_support
