#pragma once
// The layout of the dialogs in dialog units, control by control in template
// order (which is also the tab order).  The Qt window is built from it; a test
// checks the Windows resource script against it, so the two cannot drift.
#include <span>

enum class ControlKind {
    DefPushButton,  // the default push button
    PushButton,
    Edit,           // single-line, scrolls horizontally
    NumberEdit,     // single-line, digits only, right-aligned
    Label,          // static text, left-aligned
    LabelNoPrefix,  // static text shown without "&" processing
    GroupBox,
    Radio,          // selects itself within its group
    CheckBox,       // two-state, toggles itself
    Icon,           // the application icon
    PathLabel,      // static text without "&" processing; a path too long for it loses its middle
    ProgressBar,    // a bar filled from the left, 0 to 1000
};

struct ControlLayout {
    int id;           // -1 for labels and group boxes
    ControlKind kind;
    const char8_t* text;  // UTF-8 (Cp932() gives the program's form); nullptr for edit boxes and the icon
    int x, y, width, height;
    bool tabStop;
    bool group;       // starts a group
};

struct DialogLayout {
    int templateId;
    const char8_t* caption;   // UTF-8
    int width, height;     // dialog units
    const char8_t* fontName;  // UTF-8
    int fontPoints;
    std::span<const ControlLayout> controls;
};

extern const DialogLayout kMainDialogLayout;   // template 102
extern const DialogLayout kAboutDialogLayout;  // template 100
extern const DialogLayout kProgressDialogLayout;  // template 103

// The label that names each text field of the main dialog (for screen
// readers): the field's ID and the label's text, the same pointer as in the
// layout table.
struct FieldLabel {
    int fieldId;
    const char8_t* label;
};

extern const std::span<const FieldLabel> kMainFieldLabels;
