#pragma once
// One window per data folder.  A later start of the program for the same
// data folder opens no window of its own: it hands the arguments it was
// given to the window already open, which comes to the front and handles
// them as a drop once it is free, and ends.
//
// The window listens on a UNIX-domain socket in the abstract namespace,
// named after the user and the data folder's identity.  Such a name is no
// file: nothing is left behind by a window that was killed, and binding it
// is atomic, so of two starts at the same moment exactly one becomes the
// window.  Both ends check the other's user (SO_PEERCRED): files are handed
// only to, and taken only from, a process of the same user.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QObject>
#include <QString>
#include <QStringList>

#include "text/byte_string.h"

class QSocketNotifier;

// The window's end: takes the arguments of later starts.
class LaterStarts : public QObject {
public:
    explicit LaterStarts(int listener);
    ~LaterStarts() override;
    LaterStarts(const LaterStarts&) = delete;
    LaterStarts& operator=(const LaterStarts&) = delete;

    // A later start's arguments and the folder it was started in, decoded
    // as the program decodes its own.  True when the window took them: the
    // start is then told it may end.  False (a window that has closed): the
    // start waits for the next window, or becomes it.
    using Take = std::function<bool(const QStringList& arguments, const QString& currentFolder)>;

    // Begins taking them from the event loop; those that came earlier have
    // waited for this.
    void Start(Take take);

private:
    struct Connection;
    void Accept();
    void Read(int fd);
    void Drop(int fd);

    int listener_;
    Take take_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::map<int, std::unique_ptr<Connection>> connections_;
};

struct WindowClaim {
    // The arguments went to the window already open: this start ends here.
    bool handedOver = false;
    // This process is the window for the data folder; null when it is not
    // (handed over, or no window could be claimed: then it opens its own
    // window all the same, as without this).
    std::unique_ptr<LaterStarts> laterStarts;
};

// Decided at start, before anything is shown: this process becomes the
// window for dataFolder, or it hands arguments (argv after the program's
// name, as received) and currentFolder (as the system gives it) to the window
// open for dataFolder, waiting until that window has taken them.  A window
// that ends before it took them is replaced by this one.
WindowClaim ClaimWindow(const ByteString& dataFolder, const std::vector<std::string>& arguments,
                        const std::string& currentFolder);
