#pragma once
// Builds a fixed-size Qt dialog from a layout table in dialog units: the
// controls in template order, their tab stops and focus, the radio groups.
#include <map>
#include <span>
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

// Creates the controls of the table, sets the dialog's font, caption and
// fixed size.  A control that lies inside a group box is the box's child (so
// that screen readers group it under the box's title), the others are the
// dialog's.  Labels, and group boxes that hold nothing, let clicks through to
// what lies beneath them, as on Windows.
BuiltDialog BuildDialog(QDialog& dialog, const DialogLayout& table);

// Moves a dialog to the centre of its owner (of the screen's work area
// without one), and back inside the work area where it would stick out.
void CentreOverOwner(QWidget& dialog);

// The keyboard and the names of a Windows dialog on a built one: the arrow
// keys move the focus within a group (NextInGroup), and each text field is
// named by its label.  built must outlive the dialog's key events.
void AddKeyboardAndNames(QDialog& dialog, const BuiltDialog& built, std::span<const FieldLabel> labels);

// Where Tab (forward) or Shift+Tab goes from a control, as the Windows dialog
// manager does it: to the next tab stop in template order, round the end, a
// radio group counting as a tab stop at its checked button (none when none is
// checked).  nullptr when there is none.
QWidget* NextTabStop(const BuiltDialog& built, const QWidget* from, bool forward);

// Where an arrow key goes from a control: the next (forward) or previous
// control of its group that can take the focus, round within the group; a
// group starts at each control the table marks so.  nullptr when there is
// none.
QWidget* NextInGroup(const BuiltDialog& built, const QWidget* from, bool forward);

// Checks or clears a button; a radio button in an exclusive group can be
// cleared too, leaving its group with none selected.
void SetButtonChecked(QAbstractButton& button, bool checked);
