#pragma once
// The progress of a long batch on the program's launcher entry (the dock or
// task manager icon): the com.canonical.Unity.LauncherEntry signal on the
// session bus, which KDE Plasma and the GNOME docks read.
#include <QString>

// The desktop entry the program is installed with (share/applications/),
// which also names its windows to the desktop.
inline const char* const kDesktopEntryName = "tessarbolink";

class LauncherEntry {
public:
    // For the desktop entry desktopEntryName + ".desktop".
    explicit LauncherEntry(const QString& desktopEntryName = QString::fromLatin1(kDesktopEntryName));
    ~LauncherEntry();
    LauncherEntry(const LauncherEntry&) = delete;
    LauncherEntry& operator=(const LauncherEntry&) = delete;

    // Shows the bar at permille thousandths (sent only when it changed).
    void Show(int permille);
    // Takes the bar away again.
    void Clear();

    // The session bus the session names (DBUS_SESSION_BUS_ADDRESS, or the
    // user bus in XDG_RUNTIME_DIR), read when the first bar is shown; empty
    // when there is none (no bus is ever started for the launcher entry).
    static QString SessionBusAddress();

private:
    bool Connected();
    void Send(bool visible, double progress);

    QString appUri_;
    QString connectionName_;
    bool tried_ = false;
    bool connected_ = false;
    int shownPermille_ = -1;  // -1: no bar shown
};
