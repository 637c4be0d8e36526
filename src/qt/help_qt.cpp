#include "qt/help_qt.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "ui/drop_dialog.h"
#include "qt/message_box_qt.h"
#include "qt/text_qt.h"

QString FindUserGuide(const QString& programDir) {
    const QDir dir(programDir);
    for (const QString& candidate : {QStringLiteral("README.md"), QStringLiteral("../share/doc/tessarbolink/README.md"),
                                     QStringLiteral("../../share/doc/tessarbolink/README.md")}) {
        const QFileInfo guide(dir.filePath(candidate));
        if (guide.isFile()) return QDir::cleanPath(guide.absoluteFilePath());
    }
    return QString();
}

void ShowHelp(QWidget* owner, const QString& userGuide) {
    if (!userGuide.isEmpty() && QFileInfo(userGuide).isFile() &&
        QDesktopServices::openUrl(QUrl::fromLocalFile(userGuide)))
        return;
    RunMessageBox(owner, QtText(u8"ﾍﾙﾌﾟの起動に失敗しました。"), QtText(CDropDlg::ProgramName()), MessageButtons::Ok,
                  MessageIcon::Exclamation);
}
