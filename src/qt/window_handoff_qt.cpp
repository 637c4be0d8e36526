#include "qt/window_handoff_qt.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include <QFile>
#include <QSocketNotifier>

#include "fs/folders.h"

namespace {

// What a later start sends: this mark, its current folder, then each
// argument, every piece ended by a NUL byte (which no argument holds).  The
// window answers one byte once it has taken them.
constexpr char kMark[] = "tessarbolink-start-1";
constexpr char kTaken = 'T';
// More than any command line can hold: a sender beyond it is cut off.
constexpr size_t kMostBytes = 64u << 20;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// The socket's name: the user and the data folder's identity, so that every
// path to the folder (through links, say) meets the same window.
std::optional<sockaddr_un> AddressFor(const ByteString& dataFolder, socklen_t& length) {
    const std::optional<FileId> id = FileIdOf(dataFolder);
    if (!id) return std::nullopt;
    char name[96];
    const int size = std::snprintf(name, sizeof name, "tessarbolink/%u/%llx/%llx", static_cast<unsigned>(getuid()),
                                   static_cast<unsigned long long>(id->volume),
                                   static_cast<unsigned long long>(id->index));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // sun_path[0] stays NUL: a name in the abstract namespace.
    std::memcpy(address.sun_path + 1, name, static_cast<size_t>(size));
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<size_t>(size));
    return address;
}

bool SameUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == getuid();
}

bool SendAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t sent = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        done += static_cast<size_t>(sent);
    }
    return true;
}

enum class HandOver { Taken, Gone, NotOurs };

// Hands the message to the window listening at the address and waits for
// its answer.  Gone: nobody listens there (yet, or any more), or the window
// ended before it took the message.
HandOver HandTo(const sockaddr_un& address, socklen_t length, const std::string& message) {
    const Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return HandOver::NotOurs;
    if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) return HandOver::Gone;
    // A name held by another user's process gets nothing.
    if (!SameUser(fd.get())) return HandOver::NotOurs;
    if (!SendAll(fd.get(), message) || shutdown(fd.get(), SHUT_WR) != 0) return HandOver::Gone;
    // The window answers as soon as its event loop runs, also during a
    // batch; a long copy of one file may keep it waiting.
    char answer = 0;
    for (;;) {
        const ssize_t got = read(fd.get(), &answer, 1);
        if (got < 0 && errno == EINTR) continue;
        return got == 1 && answer == kTaken ? HandOver::Taken : HandOver::Gone;
    }
}

std::string MessageOf(const std::vector<std::string>& arguments, const std::string& currentFolder) {
    std::string message(kMark, sizeof kMark);
    message += currentFolder;
    message += '\0';
    for (const std::string& argument : arguments) {
        message += argument;
        message += '\0';
    }
    return message;
}

}  // namespace

WindowClaim ClaimWindow(const ByteString& dataFolder, const std::vector<std::string>& arguments,
                        const std::string& currentFolder) {
    socklen_t length = 0;
    const std::optional<sockaddr_un> address = AddressFor(dataFolder, length);
    if (!address) return {};
    const std::string message = MessageOf(arguments, currentFolder);
    // A window that is starting has its name before it listens, and one that
    // ends keeps it a moment after it stopped answering: try again a while.
    for (int attempt = 0; attempt < 500; ++attempt) {
        Fd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (listener.get() < 0) return {};
        if (bind(listener.get(), reinterpret_cast<const sockaddr*>(&*address), length) == 0) {
            if (listen(listener.get(), SOMAXCONN) != 0) return {};
            return {false, std::make_unique<LaterStarts>(listener.release())};
        }
        if (errno != EADDRINUSE) return {};
        switch (HandTo(*address, length, message)) {
        case HandOver::Taken: return {true, nullptr};
        case HandOver::NotOurs: return {};
        case HandOver::Gone: break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

// ---------------------------------------------------------------------------
// The window's end

struct LaterStarts::Connection {
    std::unique_ptr<QSocketNotifier> notifier;
    std::string received;
};

LaterStarts::LaterStarts(int listener) : listener_(listener) {}

LaterStarts::~LaterStarts() {
    for (auto& [fd, connection] : connections_) {
        connection->notifier.reset();
        close(fd);
    }
    notifier_.reset();
    close(listener_);
}

void LaterStarts::Start(Take take) {
    if (notifier_) return;
    take_ = std::move(take);
    notifier_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &LaterStarts::Accept);
    Accept();  // those that came before
}

void LaterStarts::Accept() {
    for (;;) {
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;  // EAGAIN: none waiting
        }
        if (!SameUser(fd)) {
            close(fd);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(connection->notifier.get(), &QSocketNotifier::activated, this, [this, fd] { Read(fd); });
        connections_[fd] = std::move(connection);
        Read(fd);
    }
}

void LaterStarts::Read(int fd) {
    const auto found = connections_.find(fd);
    if (found == connections_.end()) return;
    std::string& received = found->second->received;
    char block[64 * 1024];
    for (;;) {
        const ssize_t got = read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // more to come
        if (got < 0 || received.size() + static_cast<size_t>(got) > kMostBytes) {
            Drop(fd);
            return;
        }
        if (got == 0) break;
        received.append(block, static_cast<size_t>(got));
    }

    // The whole message: the mark, then pieces each ended by NUL.
    const std::string message = std::move(received);
    if (message.compare(0, sizeof kMark, std::string(kMark, sizeof kMark)) != 0 || message.back() != '\0') {
        Drop(fd);
        return;
    }
    std::vector<QString> pieces;
    for (size_t at = sizeof kMark; at < message.size();) {
        const size_t end = message.find('\0', at);
        pieces.push_back(QFile::decodeName(QByteArray(message.data() + at, static_cast<qsizetype>(end - at))));
        at = end + 1;
    }
    if (pieces.empty()) {
        Drop(fd);
        return;
    }
    if (take_(QStringList(pieces.begin() + 1, pieces.end()), pieces.front())) {
        const char taken = kTaken;
        (void)!send(fd, &taken, 1, MSG_NOSIGNAL);
    }
    Drop(fd);
}

void LaterStarts::Drop(int fd) {
    const auto found = connections_.find(fd);
    if (found != connections_.end()) {
        // Its notifier may be the one whose signal is being handled.
        found->second->notifier->setEnabled(false);
        found->second->notifier.release()->deleteLater();
        connections_.erase(found);
    }
    close(fd);
}
