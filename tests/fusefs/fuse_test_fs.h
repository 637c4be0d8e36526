#pragma once
// A test file system for one test or benchmark (Linux, as root): a fresh
// temporary folder with the backing folder, a mount of the test file system
// (tessarbolink_testfs) that mirrors it, and the server's control socket.
// The object unmounts and removes everything however the test ends, and the
// server unmounts itself should the test process die.
//
//   FuseTestFs fs({.delayMicroseconds = 2000});
//   if (!fs.IsMounted()) GTEST_SKIP() << fs.Error();
//   ... files under fs.MountPath() ...
//   fs.ResetCounts();  ...;  fs.Counts()["fsync"]
//   fs.Fail("setxattr", ENOTSUP);        // a file system without xattrs
//   fs.GoAway(ENOTCONN, 100000, 50);     // the server goes after 50 requests
//   FuseTestFs cut({.powerCut = true}); ...; cut.PowerCut();  // forgets what was not durable
//
// What is durable, and when: see test_fs.h.
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>

namespace testfs {

class FuseTestFs {
public:
    struct Options {
        int64_t delayMicroseconds = 0;  // added to each request
        bool powerCut = false;          // track durability, so that PowerCut() can be used
        double cacheSeconds = 1.0;      // how long the kernel keeps names and attributes
        std::string parent = "/tmp";    // where the fresh folder is made
    };

    FuseTestFs();
    explicit FuseTestFs(Options options);
    ~FuseTestFs();
    FuseTestFs(const FuseTestFs&) = delete;
    FuseTestFs& operator=(const FuseTestFs&) = delete;

    // False when the file system could not be mounted; Error() says why.
    bool IsMounted() const { return server_ > 0; }
    const std::string& Error() const { return error_; }

    // Where the file system is mounted: the files a test works on.
    const std::string& MountPath() const { return mountPath_; }
    // The folder it mirrors, to look at the files without a request.
    const std::string& BackingPath() const { return backingPath_; }

    // Each returns false (and sets Error()) when the server refused or is gone.
    // SetDelay and ClearFaults also let go at once the requests that are
    // waiting out a delay.
    bool SetDelay(int64_t microseconds);
    // The next `times` requests of the kind (0: all of them) whose path
    // contains pathPart fail with the error.  Kinds: the names in Counts().
    bool Fail(const std::string& kind, int error, int times = 0, const std::string& pathPart = "");
    // After `afterRequests` more requests, every request waits the delay and
    // fails with the error: a server that went away.
    bool GoAway(int error, int64_t delayMicroseconds, int64_t afterRequests = 0);
    bool ClearFaults();
    bool ResetCounts();

    // Requests by kind since the start or the last ResetCounts(): "getattr",
    // "open", "create", "read", "write", "fsync", "fsyncdir", "rename",
    // "link", "unlink", "setxattr", ... and "total".  Empty when the server
    // cannot be reached.
    std::map<std::string, uint64_t> Counts();

    // The power cut (needs Options::powerCut): the server forgets everything
    // that was not made durable and ends; the file system is then mounted
    // again on what was kept, with new file numbers.  Files a test still has
    // open on the old mount fail from then on.
    bool PowerCut();

    // Unmounts (lazily) and ends the server; also done by the destructor.
    void Unmount();

private:
    bool Mount();
    std::string Command(const std::string& line);
    bool Ok(const std::string& line);

    Options options_;
    std::string folder_, backingPath_, mountPath_, statePath_, controlPath_, logPath_;
    pid_t server_ = -1;
    std::string error_;
};

}  // namespace testfs
