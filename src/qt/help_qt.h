#pragma once
// The help key.  Linux has no help viewer for the Windows help file, so F1
// opens the user guide installed with the program (its README) in the
// desktop's viewer, and says so when that is not possible.
#include <QString>

class QWidget;

// Where the installed user guide lives for a program in programDir (with or
// without trailing separator): share/doc/tessarbolink/README.md of the
// installation, for a program in lib/tessarbolink/ as installed, or in bin/;
// a README.md beside the program is taken first.  Empty when there is none.
QString FindUserGuide(const QString& programDir);

// Opens userGuide, or shows "ﾍﾙﾌﾟの起動に失敗しました。" when it is empty or
// cannot be opened.
void ShowHelp(QWidget* owner, const QString& userGuide);
