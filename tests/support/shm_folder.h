#pragma once
// A fresh temporary folder on /dev/shm (Linux only): a second file system
// beside the one of the system's temporary folder, for cross-device moves.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "text/byte_string.h"
#include "support/test_support.h"

namespace testing_support {

class ShmFolder {
public:
    ShmFolder() {
        char pattern[] = "/dev/shm/tessarbolink-test-XXXXXX";
        if (mkdtemp(pattern)) path_ = pattern;
    }
    ~ShmFolder() {
        std::error_code error;
        if (!path_.empty()) std::filesystem::remove_all(path_, error);
    }
    ShmFolder(const ShmFolder&) = delete;
    ShmFolder& operator=(const ShmFolder&) = delete;

    // True when the folder exists and lies on another file system than `other`.
    bool OnAnotherFileSystemThan(const ByteString& other) const {
        struct stat here, there;
        return !path_.empty() && stat(path_.c_str(), &here) == 0 &&
               stat(NativePath(other).c_str(), &there) == 0 && here.st_dev != there.st_dev;
    }
    ByteString Join(const std::string& name) const { return path_ + "/" + name; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace testing_support
