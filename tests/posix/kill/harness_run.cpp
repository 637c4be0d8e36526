#include "harness_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "batch/batch_run.h"

namespace harness {

namespace {

constexpr char8_t kFormat[] = u8"moved-[ファイルタイトル].[拡張子]";

std::string Title(size_t index) {
    char name[16];
    std::snprintf(name, sizeof name, "f%02zu", index);
    return name;
}
std::string OldName(size_t index) { return Title(index) + ".bin"; }
std::string NewName(size_t index) { return "moved-" + Title(index) + ".bin"; }

// Distinct bytes for every file: slices at random places of one block of
// pseudorandom bytes made once (a file shifted or swapped for another never
// matches).
std::string ContentFor(std::mt19937_64& random, size_t size) {
    static const std::string pool = [] {
        std::string bytes(16 * kMiB, '\0');
        std::mt19937_64 generator(12345);
        for (size_t i = 0; i < bytes.size(); i += 8) {
            const uint64_t word = generator();
            std::memcpy(&bytes[i], &word, 8);
        }
        return bytes;
    }();
    return pool.substr(random() % (pool.size() - size), size);
}

void WriteFile(const fsys::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(2);
    }
}

std::optional<std::string> ReadFile(const fsys::path& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string content;
    struct stat st;
    if (fstat(fd, &st) == 0) content.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    for (ssize_t got; done < content.size() && (got = read(fd, &content[done], content.size() - done)) > 0;)
        done += static_cast<size_t>(got);
    close(fd);
    if (done != content.size()) return std::nullopt;
    return content;
}

bool Exists(const fsys::path& path) {
    std::error_code error;
    return fsys::exists(fsys::symlink_status(path, error));
}

// Every entry under root, files and folders, as paths.
std::vector<fsys::path> EntriesUnder(const fsys::path& root) {
    std::vector<fsys::path> entries;
    std::error_code error;
    if (!Exists(root)) return entries;
    for (auto it = fsys::recursive_directory_iterator(root, error);
         !error && it != fsys::recursive_directory_iterator(); it.increment(error))
        entries.push_back(it->path());
    return entries;
}

std::string Describe(const std::optional<std::string>& content) {
    return content ? std::to_string(content->size()) + " bytes" : "unreadable";
}

// What a run may leave in its trees: the dropped folder and its folders,
// the destination, and both names of every file.
std::set<fsys::path> ExpectedEntries(const Run& run) {
    std::set<fsys::path> expected{run.dropped, run.seenDestination};
    for (size_t i = 0; i < kFileCount; ++i) {
        for (fsys::path folder = run.OldPath(i).parent_path(); folder != run.sourceParent;
             folder = folder.parent_path())
            expected.insert(folder);
        expected.insert(run.OldPath(i));
        expected.insert(run.NewPath(i));
    }
    return expected;
}

// Hands every other entry of the run's trees to stray.
template <typename Stray>
void ForEachStrayEntry(const Run& run, Stray&& stray) {
    const std::set<fsys::path> expected = ExpectedEntries(run);
    std::vector<fsys::path> roots{run.sourceParent};
    if (run.seenDestinationParent != run.sourceParent) roots.push_back(run.seenDestinationParent);
    for (const fsys::path& root : roots)
        for (const fsys::path& entry : EntriesUnder(root))
            if (!expected.count(entry)) stray(entry);
}

bool IsTemporaryName(const fsys::path& entry) { return entry.filename().string().rfind(".tessarbolink-", 0) == 0; }

}  // namespace

void FailureTally::Add(const std::string& run, const std::string& mode, const std::vector<Failure>& failures) {
    for (const Failure& failure : failures) {
        ++byInvariant_[failure.invariant][mode];
        ++total_;
        if (verbose_ || printed_++ < 12)
            std::printf("FAIL %s: %s: %s\n", run.c_str(), failure.invariant.c_str(), failure.detail.c_str());
    }
}

void FailureTally::PrintByInvariant() const {
    for (const auto& [invariant, byMode] : byInvariant_) {
        std::string modes;
        for (const auto& [mode, count] : byMode)
            modes += (modes.empty() ? "" : ", ") + mode + " " + std::to_string(count);
        std::printf("  failed invariant \"%s\": %s\n", invariant.c_str(), modes.c_str());
    }
}

fsys::path Run::OldPath(size_t i) const { return dropped / kTree[i].folder / OldName(i); }
fsys::path Run::NewPath(size_t i) const { return seenDestination / NewName(i); }

fsys::path FreshFolder(const fsys::path& parent) {
    std::string pattern = (parent / "tessarbolink-kill-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::fprintf(stderr, "cannot create a folder in %s\n", parent.c_str());
        std::exit(2);
    }
    return pattern;
}

bool OnOneFileSystem(const fsys::path& a, const fsys::path& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

void Sleep(double seconds) {
    const long nanoseconds = static_cast<long>(seconds * 1e9);
    const timespec pause{nanoseconds / 1'000'000'000, nanoseconds % 1'000'000'000};
    nanosleep(&pause, nullptr);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double AtDelay(const std::vector<double>& measured, int64_t delay, int64_t largest) {
    const double at = std::clamp(static_cast<double>(delay) / (static_cast<double>(largest) / 2), 0.0, 2.0);
    const size_t below = std::min<size_t>(static_cast<size_t>(at), 1);
    return measured[below] + (measured[below + 1] - measured[below]) * (at - static_cast<double>(below));
}

Run LayOut(bool move, const fsys::path& sourceRoot, const std::optional<fsys::path>& destinationRoot,
           const fsys::path& seenDestinationRoot, size_t sizeDivisor, std::mt19937_64& random) {
    Run run;
    run.move = move;
    run.sameFileSystem = !destinationRoot;
    run.sourceParent = FreshFolder(sourceRoot);
    run.seenDestinationParent = destinationRoot ? FreshFolder(seenDestinationRoot) : run.sourceParent;
    run.destinationParent =
        destinationRoot ? *destinationRoot / run.seenDestinationParent.filename() : run.sourceParent;
    run.dropped = run.sourceParent / "dropped";
    run.destination = run.destinationParent / "out";
    run.seenDestination = run.seenDestinationParent / "out";
    fsys::create_directories(run.seenDestination);
    for (size_t i = 0; i < kFileCount; ++i) {
        fsys::create_directories(run.dropped / kTree[i].folder);
        run.contents.push_back(ContentFor(random, kTree[i].size / sizeDivisor));
        WriteFile(run.OldPath(i), run.contents.back());
    }
    run.olderContent = ContentFor(random, kOlderFileSize / sizeDivisor);
    WriteFile(run.NewPath(kTakenName), run.olderContent);
    return run;
}

fsys::path JournalOf(const Run& run) { return run.sourceParent.string() + "-journal"; }

void Remove(const Run& run) {
    std::error_code error;
    for (const char* suffix : {"", ".lock", ".new"}) fsys::remove(JournalOf(run).string() + suffix, error);
    fsys::remove_all(run.sourceParent, error);
    if (run.seenDestinationParent != run.sourceParent) fsys::remove_all(run.seenDestinationParent, error);
}

void YesHost::SetTitle(const ByteString&) { (void)!write(pipeOut_, "p", 1); }

[[noreturn]] void RunBatchInChild(const Run& run, int pipeOut, bool journaled) {
    DropSettings settings;
    settings.m_sWhere = run.destination.string();  // ASCII paths: the same in code page 932
    settings.m_sFileNameFormat = Cp932(kFormat);
    settings.m_nMode = run.move ? 0 : 1;
    settings.m_bDeleteDerectory = 1;
    BatchState state;
    NameProgram program;
    NameRandom random;
    YesHost host(pipeOut);
    JournalWriter journal(JournalOf(run).string());
    BatchRun batch(settings, state, program, random, host, [] { return int64_t{1700000000}; },
                   run.sourceParent.string(), journaled ? &journal : nullptr);
    (void)!write(pipeOut, "s", 1);
    batch.RunBatch({DroppedPath{run.dropped.string(), true}});
    char done[64];
    const int length = std::snprintf(done, sizeof done, "d %d %d %d", state.m_nSuccess, state.m_nFailure,
                                     state.m_nTotal);
    (void)!write(pipeOut, done, static_cast<size_t>(length));
    _exit(0);
}

Findings Check(const Run& run, bool finished) {
    Findings findings;
    auto fail = [&](const char* invariant, const fsys::path& path, const std::string& what) {
        findings.failures.push_back({invariant, path.string() + ": " + what});
    };
    const bool move = run.move;
    for (size_t i = 0; i < kFileCount; ++i) {
        const fsys::path oldPath = run.OldPath(i), newPath = run.NewPath(i);
        const std::string& content = run.contents[i];
        const auto atOld = ReadFile(oldPath);
        const bool oldExists = Exists(oldPath), newExists = Exists(newPath);
        if (oldExists && atOld != content)
            fail("source damaged", oldPath, Describe(atOld) + ", expected " + std::to_string(content.size()));

        if (i == kTakenName) {
            const auto atNew = ReadFile(newPath);
            if (!oldExists) fail(move ? "replaced by a move" : "lost", oldPath, "gone");
            if (atNew != run.olderContent && (move || atNew != content))
                fail(move ? "replaced by a move" : "half-written", newPath,
                     Describe(atNew) + (move ? ", expected the older file" : ", expected the older or the new file"));
            if (finished && !move && atNew != content) fail("batch incomplete", newPath, "older file not replaced");
            continue;
        }
        if (!oldExists && !newExists) {
            fail("lost", oldPath, "neither it nor " + newPath.filename().string() + " exists");
            continue;
        }
        if (!move && !oldExists) fail("source damaged", oldPath, "a copied file is gone");
        if (move && oldExists && newExists) {
            if (run.sameFileSystem) fail("moved twice", oldPath, "also at " + newPath.string());
            else ++findings.underBothNames;  // both checked whole
        }
        if (newExists) {
            const auto atNew = ReadFile(newPath);
            if (atNew != content)
                fail("half-written", newPath, Describe(atNew) + ", expected " + std::to_string(content.size()));
        }
        if (finished && (!newExists || (move && oldExists)))
            fail("batch incomplete", oldPath, "not moved or copied");
    }
    ForEachStrayEntry(run, [&](const fsys::path& entry) {
        const bool temporary = IsTemporaryName(entry);
        // In the destination, or in a hidden folder there in which several
        // moves at once fill their copies.
        const fsys::path parent = entry.parent_path();
        const bool inDestination = parent == run.seenDestination ||
                                   (IsTemporaryName(parent) && parent.parent_path() == run.seenDestination);
        if (temporary && run.namedTemporaries && inDestination) {
            ++findings.temporariesOnServer;
            return;
        }
        if (temporary && !move && entry.parent_path() == run.seenDestination &&
            ReadFile(entry) == run.contents[kTakenName]) {
            ++findings.finishedCopiesUnderTemporaryNames;
            return;
        }
        std::error_code error;
        const auto size = fsys::is_regular_file(entry, error) ? fsys::file_size(entry, error) : 0;
        fail(temporary ? "temporary file left" : "unexpected entry", entry, std::to_string(size) + " bytes");
    });
    return findings;
}

Findings CheckUndo(const Run& run, bool finished) {
    Findings findings;
    auto fail = [&](const char* invariant, const fsys::path& path, const std::string& what) {
        findings.failures.push_back({invariant, path.string() + ": " + what});
    };
    for (size_t i = 0; i < kFileCount; ++i) {
        const fsys::path oldPath = run.OldPath(i), newPath = run.NewPath(i);
        const bool oldExists = Exists(oldPath), newExists = Exists(newPath);
        if (i == kTakenName) {
            if (ReadFile(oldPath) != run.contents[i]) fail("lost", oldPath, "the file whose move was refused");
            if (ReadFile(newPath) != run.olderContent) fail("replaced by a move", newPath, "the older file");
            continue;
        }
        if (!oldExists && !newExists) fail("lost", oldPath, "neither it nor " + newPath.filename().string() + " exists");
        if (oldExists && ReadFile(oldPath) != run.contents[i]) fail("half-written", oldPath, "moved back, not whole");
        if (newExists && ReadFile(newPath) != run.contents[i]) fail("half-written", newPath, "not whole");
        if (oldExists && newExists) {
            if (run.sameFileSystem) fail("moved twice", oldPath, "also at " + newPath.string());
            else ++findings.underBothNames;
        }
        if (finished && !oldExists) fail("undo incomplete", oldPath, "not moved back");
    }
    ForEachStrayEntry(run, [&](const fsys::path& entry) {
        fail(IsTemporaryName(entry) ? "temporary file left" : "unexpected entry", entry, "");
    });
    return findings;
}

}  // namespace harness
