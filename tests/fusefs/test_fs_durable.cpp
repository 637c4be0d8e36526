// The power cut of the test file system: a record of what is durable, kept
// beside the backing folder, and the rebuild of the backing folder from it.
//
// The record knows files and folders by their backing file numbers: a file's
// durable content is a copy in <state>/data/<number> (with its extended
// attributes), its durable mode, owner and times are kept in memory, and so
// is each folder's durable listing (name -> number).  A number must never
// stand for two files while the server runs, so a file or folder that goes
// away is held open (KeepNumber) until the server ends.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <vector>

#include "test_fs.h"

namespace testfs::durable {

namespace {

struct Node {
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    struct timespec times[2] = {};
    bool hasData = false;     // a copy of its content is in data/
    std::string linkTarget;   // symbolic links
};

struct Entry {
    ino_t number;
    mode_t type;
};

bool g_enabled = false;
int g_backing = -1;
std::string g_backingPath;
std::string g_state;
std::map<ino_t, Node> g_nodes;
std::map<ino_t, std::map<std::string, Entry>> g_folders;
ino_t g_rootNumber = 0;
std::vector<int> g_kept;
std::shared_mutex g_changeLock;
std::mutex g_recordLock;

std::string DataPath(ino_t number) { return g_state + "/data/" + std::to_string(number); }

Node NodeOf(const struct stat& st) {
    Node node;
    node.mode = st.st_mode;
    node.uid = st.st_uid;
    node.gid = st.st_gid;
    node.times[0] = st.st_atim;
    node.times[1] = st.st_mtim;
    return node;
}

// Copies every extended attribute this process may read and write.
void CopyAttributes(int from, int to) {
    std::vector<char> names(65536);
    const ssize_t length = flistxattr(from, names.data(), names.size());
    for (ssize_t at = 0; at < length;) {
        const char* name = names.data() + at;
        at += static_cast<ssize_t>(std::strlen(name)) + 1;
        std::vector<char> value(65536);
        const ssize_t size = fgetxattr(from, name, value.data(), value.size());
        if (size >= 0) (void)fsetxattr(to, name, value.data(), static_cast<size_t>(size), 0);
    }
}

// Copies a whole file's content and extended attributes into a new file.
bool CopyFile(int from, const std::string& to, mode_t mode) {
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode & 07777);
    if (out < 0) return false;
    char buffer[65536];
    bool ok = true;
    for (off_t at = 0;;) {
        const ssize_t got = pread(from, buffer, sizeof buffer, at);
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        if (write(out, buffer, static_cast<size_t>(got)) != got) {
            ok = false;
            break;
        }
        at += got;
    }
    CopyAttributes(from, out);
    return close(out) == 0 && ok;
}

// Records the content and attributes of an open file as durable.
void RecordFile(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return;
    Node node = NodeOf(st);
    if (S_ISREG(st.st_mode)) {
        // The file may be open for writing only: read it through a new
        // descriptor of its own.
        const int reader = open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC);
        if (reader < 0) return;
        const std::string temp = DataPath(st.st_ino) + ".new";
        node.hasData = CopyFile(reader, temp, st.st_mode) && rename(temp.c_str(), DataPath(st.st_ino).c_str()) == 0;
        close(reader);
    }
    g_nodes[st.st_ino] = node;
}

// Records a folder's listing and attributes as durable; symbolic links in it
// are durable with their names.
void RecordFolder(int fd) {
    struct stat st;
    const int own = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = own >= 0 ? fdopendir(own) : nullptr;
    if (!dir || fstat(own, &st) != 0) {
        if (dir) closedir(dir);
        else if (own >= 0) close(own);
        return;
    }
    g_nodes[st.st_ino] = NodeOf(st);
    std::map<std::string, Entry>& entries = g_folders[st.st_ino];
    entries.clear();
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat child;
        if (fstatat(own, entry->d_name, &child, AT_SYMLINK_NOFOLLOW) != 0) continue;
        entries[name] = Entry{child.st_ino, child.st_mode & S_IFMT};
        if (S_ISLNK(child.st_mode)) {
            char target[4096];
            const ssize_t length = readlinkat(own, entry->d_name, target, sizeof target);
            Node link = NodeOf(child);
            if (length >= 0) link.linkTarget.assign(target, static_cast<size_t>(length));
            g_nodes[child.st_ino] = link;
        }
    }
    closedir(dir);
}

// Records a whole tree as durable.
void RecordTree(int folder) {
    RecordFolder(folder);
    struct stat st;
    if (fstat(folder, &st) != 0) return;
    for (const auto& [name, entry] : g_folders[st.st_ino]) {
        if (entry.type != S_IFDIR && entry.type != S_IFREG) continue;
        const int child = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0) continue;
        if (entry.type == S_IFDIR) RecordTree(child);
        else RecordFile(child);
        close(child);
    }
}

void ApplyNode(int fd, const Node& node) {
    (void)!fchown(fd, node.uid, node.gid);
    (void)fchmod(fd, node.mode & 07777);
    (void)futimens(fd, node.times);
}

// Builds the durable content of a folder in an empty folder.  Files that
// several durable names share become hard links again.
void Rebuild(ino_t number, int into, std::map<ino_t, std::string>& placed, const std::string& intoPath,
             std::set<ino_t>& folders) {
    if (!folders.insert(number).second) return;  // a folder reached twice stays empty the second time
    const auto listing = g_folders.find(number);
    if (listing == g_folders.end()) return;
    for (const auto& [name, entry] : listing->second) {
        const std::string path = intoPath + "/" + name;
        const auto known = g_nodes.find(entry.number);
        if (entry.type == S_IFDIR) {
            if (mkdirat(into, name.c_str(), 0700) != 0) continue;
            const int child = openat(into, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (child < 0) continue;
            Rebuild(entry.number, child, placed, path, folders);
            if (known != g_nodes.end()) ApplyNode(child, known->second);
            else (void)fchmod(child, 0755);
            close(child);
        } else if (entry.type == S_IFLNK) {
            if (known != g_nodes.end()) (void)symlinkat(known->second.linkTarget.c_str(), into, name.c_str());
        } else if (entry.type == S_IFREG) {
            if (const auto first = placed.find(entry.number); first != placed.end()) {
                (void)link(first->second.c_str(), path.c_str());
                continue;
            }
            const bool hasData = known != g_nodes.end() && known->second.hasData;
            int fd = -1;
            if (hasData) {
                const int from = open(DataPath(entry.number).c_str(), O_RDONLY | O_CLOEXEC);
                if (from >= 0 && CopyFile(from, path, 0600)) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
                if (from >= 0) close(from);
            } else {
                fd = openat(into, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            }
            if (fd < 0) continue;
            if (known != g_nodes.end()) ApplyNode(fd, known->second);
            close(fd);
            placed[entry.number] = path;
        }
        // Devices, FIFOs and sockets are not kept.
    }
}

void Reset() {
    for (const int fd : g_kept) close(fd);
    g_kept.clear();
    g_nodes.clear();
    g_folders.clear();
    std::error_code error;
    std::filesystem::remove_all(g_state + "/data", error);
    std::filesystem::create_directories(g_state + "/data", error);
}

}  // namespace

bool Start(int backingFd, const std::string& backingPath, const std::string& statePath) {
    g_backing = backingFd;
    g_backingPath = backingPath;
    g_state = statePath;
    struct stat root, state;
    if (fstat(backingFd, &root) != 0 || stat(statePath.c_str(), &state) != 0 || root.st_dev != state.st_dev)
        return false;
    g_rootNumber = root.st_ino;
    Reset();
    RecordTree(backingFd);
    g_enabled = true;
    return true;
}

bool Enabled() { return g_enabled; }

void FileSynced(int fd) {
    if (!g_enabled) return;
    std::unique_lock<std::shared_mutex> change(g_changeLock);
    std::lock_guard<std::mutex> lock(g_recordLock);
    RecordFile(fd);
}

void FolderSynced(int fd) {
    if (!g_enabled) return;
    std::unique_lock<std::shared_mutex> change(g_changeLock);
    std::lock_guard<std::mutex> lock(g_recordLock);
    RecordFolder(fd);
}

void KeepNumber(int dirFd, const char* name) {
    if (!g_enabled) return;
    const int fd = openat(dirFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    std::lock_guard<std::mutex> lock(g_recordLock);
    g_kept.push_back(fd);
}

void BeginChange() {
    if (g_enabled) g_changeLock.lock_shared();
}

void EndChange() {
    if (g_enabled) g_changeLock.unlock_shared();
}

std::string Cut() {
    if (!g_enabled) return "the power cut needs --state";
    // Taken for good: no request changes the backing folder any more.
    g_changeLock.lock();
    std::lock_guard<std::mutex> lock(g_recordLock);
    namespace fsys = std::filesystem;
    std::error_code error;
    const std::string rebuilt = g_state + "/rebuilt";
    fsys::remove_all(rebuilt, error);
    if (mkdir(rebuilt.c_str(), 0700) != 0) return "cannot rebuild";
    const int into = open(rebuilt.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (into < 0) return "cannot rebuild";
    std::map<ino_t, std::string> placed;
    std::set<ino_t> folders;
    Rebuild(g_rootNumber, into, placed, rebuilt, folders);
    close(into);

    for (const auto& entry : fsys::directory_iterator(g_backingPath, error)) fsys::remove_all(entry.path(), error);
    for (const auto& entry : fsys::directory_iterator(rebuilt, error)) {
        if (rename(entry.path().c_str(), (fsys::path(g_backingPath) / entry.path().filename()).c_str()) != 0)
            return "cannot put the durable state in place";
    }
    if (const auto root = g_nodes.find(g_rootNumber); root != g_nodes.end()) ApplyNode(g_backing, root->second);
    fsys::remove_all(rebuilt, error);
    Reset();
    return "";
}

}  // namespace testfs::durable
