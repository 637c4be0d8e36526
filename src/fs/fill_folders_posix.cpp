// Hidden folders beside a destination, in which copies are filled while
// several moves into it run at once.  Creating a file holds its folder's
// lock in the kernel for as long as a file server takes to answer the lookup
// and the creation, so copies all created in the destination itself would
// wait for one another there; each mover that comes while another is at
// work gets a folder of its own instead.  The folders are the program's
// (mode 0700, held open, checked to be the ones it made) and go when the
// last mover of the destination is done.
#include <sys/stat.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "fs/fs_posix_internal.h"

namespace fs_posix {

namespace {

struct Movers {
    int active = 0;
    Fd destination;                                // opened by the first mover
    std::vector<std::pair<std::string, Fd>> idle;  // path and the folder held open
};

std::mutex g_mutex;
std::map<std::string, Movers> g_movers;  // by destination folder

// A fresh hidden folder in the destination, the program's own; not valid
// when none can be made.
Fd MakeFillFolder(const std::string& destination, std::string& path) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        std::string name = TempName();
        name.replace(name.size() - 4, 4, ".work");
        path = JoinNative(destination, name);
        if (mkdir(path.c_str(), 0700) != 0) {
            if (errno == EEXIST) continue;
            return Fd();
        }
        Fd folder(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        // Replaced between its making and its opening: not ours to fill.
        if (folder.valid() && fstat(folder.get(), &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 0777) == 0700)
            return folder;
        return Fd();
    }
    return Fd();
}

}  // namespace

FillFolder::FillFolder(const std::string& destination) : destination_(destination) {
    std::lock_guard lock(g_mutex);
    Movers& movers = g_movers[destination_];
    together_ = ++movers.active;
}

std::string FillFolder::Path() {
    // Alone, the copy is filled in the destination itself, as always.
    if (!folder_.valid() && together_ > 1) {
        std::lock_guard lock(g_mutex);
        Movers& movers = g_movers[destination_];
        if (!movers.idle.empty()) {
            path_ = std::move(movers.idle.back().first);
            folder_ = std::move(movers.idle.back().second);
            movers.idle.pop_back();
        } else {
            folder_ = MakeFillFolder(destination_, path_);
            if (!folder_.valid()) path_.clear();
        }
    }
    return folder_.valid() ? "/proc/self/fd/" + std::to_string(folder_.get()) : destination_;
}

FillFolder::~FillFolder() {
    std::lock_guard lock(g_mutex);
    Movers& movers = g_movers[destination_];
    if (folder_.valid()) movers.idle.emplace_back(std::move(path_), std::move(folder_));
    if (--movers.active > 0) return;
    // The last mover: the folders go (one that is not empty, where a copy
    // could not be cleared away, stays).
    for (auto& [path, folder] : movers.idle) {
        folder = Fd();
        rmdir(path.c_str());
    }
    g_movers.erase(destination_);
}

std::string FillFolder::Target(const std::string& name) {
    if (destinationFd_ < 0) {
        std::lock_guard lock(g_mutex);
        Movers& movers = g_movers[destination_];
        if (!movers.destination.valid())
            movers.destination = Fd(open(destination_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        destinationFd_ = movers.destination.get();
    }
    return destinationFd_ >= 0 ? "/proc/self/fd/" + std::to_string(destinationFd_) + "/" + name
                               : JoinNative(destination_, name);
}

bool FillFolder::Sync() const { return SyncFolderShared(destination_, destinationFd_, together_); }

}  // namespace fs_posix
