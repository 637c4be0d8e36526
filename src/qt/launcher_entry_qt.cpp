#include "qt/launcher_entry_qt.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QVariantMap>
#include <QtGlobal>

namespace {

const char* const kInterface = "com.canonical.Unity.LauncherEntry";
const char* const kObjectPath = "/app/tessarbolink/Tessarbolink/LauncherEntry";

}  // namespace

LauncherEntry::LauncherEntry(const QString& desktopEntryName)
    : appUri_(QStringLiteral("application://") + desktopEntryName + QStringLiteral(".desktop")),
      connectionName_(QStringLiteral("tessarbolink-launcher-entry-%1").arg(reinterpret_cast<quintptr>(this))) {}

LauncherEntry::~LauncherEntry() {
    Clear();
    if (tried_) QDBusConnection::disconnectFromBus(connectionName_);
}

QString LauncherEntry::SessionBusAddress() {
    const QString named = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!named.isEmpty()) return named;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString userBus = runtime + QStringLiteral("/bus");
    if (!runtime.isEmpty() && QFileInfo::exists(userBus)) return QStringLiteral("unix:path=") + userBus;
    return QString();
}

bool LauncherEntry::Connected() {
    if (!tried_) {
        tried_ = true;
        // A connection of its own, made when the first bar is shown: a
        // program that never runs a long batch never touches the bus.
        const QString address = SessionBusAddress();
        connected_ = !address.isEmpty() && QDBusConnection::connectToBus(address, connectionName_).isConnected();
    }
    return connected_;
}

void LauncherEntry::Show(int permille) {
    if (permille == shownPermille_) return;
    shownPermille_ = permille;
    Send(true, permille / 1000.0);
}

void LauncherEntry::Clear() {
    if (shownPermille_ < 0) return;
    shownPermille_ = -1;
    Send(false, 0.0);
}

void LauncherEntry::Send(bool visible, double progress) {
    if (!Connected()) return;
    QDBusMessage update = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath), QString::fromLatin1(kInterface),
                                                     QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress-visible"), visible);
    if (visible) properties.insert(QStringLiteral("progress"), progress);
    update << appUri_ << properties;
    QDBusConnection(connectionName_).send(update);
}
