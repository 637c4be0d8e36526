#pragma once
// Builds a fixed-size Qt dialog from a layout table in dialog units: the
// controls in template order, their tab stops and focus, the radio groups.
#include <map>
#include <vector>

#include <QIcon>

#include "ui/control_table.h"
#include "qt/dialog_units_qt.h"

class QAbstractButton;
class QDialog;
class QWidget;

struct BuiltDialog {
    DialogBaseUnits units;
    std::map<int, QWidget*> byId;  // controls that have an ID
    struct Placed {
        const ControlLayout* entry;
        QWidget* widget;
    };
    std::vector<Placed> controls;  // every control, in template order

    // The control with this ID, or nullptr.
    QWidget* Control(int id) const {
        const auto found = byId.find(id);
        return found == byId.end() ? nullptr : found->second;
    }
};

// The application icon (the same picture as the Windows program's).
QIcon ApplicationIcon();

// Creates the controls of the table as children of dialog, sets its font, caption
// and fixed size.  The group boxes and labels let clicks through to what lies
// beneath them, as on Windows.
BuiltDialog BuildDialog(QDialog& dialog, const DialogLayout& table);

// Moves a dialog to the centre of its owner (of the screen's work area
// without one), and back inside the work area where it would stick out.
void CentreOverOwner(QWidget& dialog);

// Checks or clears a button; a radio button in an exclusive group can be
// cleared too, leaving its group with none selected.
void SetButtonChecked(QAbstractButton& button, bool checked);
