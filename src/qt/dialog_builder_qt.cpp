#include "qt/dialog_builder_qt.h"

#include <cstddef>
#include <limits>

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include "qt/digits_line_edit_qt.h"
#include "qt/text_qt.h"

namespace {

// A Windows static control shows "&&" as "&" and hides a single "&" (it only
// underlines the next letter, which labels here never use).
QString WithoutPrefixMarks(const QString& text) {
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) ++i;
        shown += text[i];
    }
    return shown;
}

// An edit box as Windows has it: no length limit (a QLineEdit stops at 32767
// by default), and no drop target of its own, so that files dropped on it
// reach the window (file managers offer their paths as text too).
QLineEdit* AsEditBox(QLineEdit* edit) {
    edit->setMaxLength(std::numeric_limits<int>::max());
    edit->setAcceptDrops(false);
    return edit;
}

QLabel* MakeLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Every label is one line high: a text wider than its box is cut at the
    // edge, which shows more of it than wrapping its end out of sight.
    return label;
}

QWidget* MakeControl(const ControlLayout& control, QDialog& dialog) {
    const QString text = QtText(control.text);
    switch (control.kind) {
    case ControlKind::DefPushButton: {
        auto* button = new QPushButton(text, &dialog);
        button->setDefault(true);
        return button;
    }
    case ControlKind::PushButton: return new QPushButton(text, &dialog);
    case ControlKind::Edit: return AsEditBox(new QLineEdit(&dialog));
    case ControlKind::NumberEdit: return AsEditBox(new DigitsLineEdit(&dialog));
    case ControlKind::Label: return MakeLabel(WithoutPrefixMarks(text), &dialog);
    case ControlKind::LabelNoPrefix: return MakeLabel(text, &dialog);
    case ControlKind::GroupBox: return new QGroupBox(text, &dialog);
    case ControlKind::Radio: return new QRadioButton(text, &dialog);
    case ControlKind::CheckBox: return new QCheckBox(text, &dialog);
    case ControlKind::Icon: {
        auto* icon = new QLabel(&dialog);
        icon->setPixmap(ApplicationIcon().pixmap(32, 32));
        return icon;
    }
    case ControlKind::PathLabel: return MakeLabel(text, &dialog);  // its user elides the path
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(&dialog);
        bar->setRange(0, 1000);
        bar->setTextVisible(false);
        return bar;
    }
    }
    return nullptr;
}

Qt::FocusPolicy FocusPolicyOf(const ControlLayout& control) {
    if (control.tabStop) return Qt::StrongFocus;
    switch (control.kind) {
    case ControlKind::Label:
    case ControlKind::LabelNoPrefix:
    case ControlKind::GroupBox:
    case ControlKind::Icon:
    case ControlKind::PathLabel:
    case ControlKind::ProgressBar: return Qt::NoFocus;
    default: return Qt::ClickFocus;  // radio buttons: Tab reaches only the checked one (NextTabStop)
    }
}

bool LetsClicksThrough(ControlKind kind) {
    return kind == ControlKind::Label || kind == ControlKind::LabelNoPrefix || kind == ControlKind::Icon ||
           kind == ControlKind::PathLabel || kind == ControlKind::ProgressBar;
}

bool Contains(const ControlLayout& box, const ControlLayout& control) {
    return control.x >= box.x && control.y >= box.y && control.x + control.width <= box.x + box.width &&
           control.y + control.height <= box.y + box.height;
}

// The controls that lie inside a group box become its children, in place:
// screen readers then announce them under the box's title.  A group box
// without any lets clicks through, as on Windows.
void PutControlsIntoGroupBoxes(std::vector<BuiltDialog::Placed>& controls) {
    for (const auto& box : controls) {
        if (box.entry->kind != ControlKind::GroupBox) continue;
        bool holdsAny = false;
        for (const auto& placed : controls) {
            if (placed.widget == box.widget || !Contains(*box.entry, *placed.entry)) continue;
            const QRect inDialog = placed.widget->geometry();
            placed.widget->setParent(box.widget);
            placed.widget->setGeometry(inDialog.translated(-box.widget->pos()));
            holdsAny = true;
        }
        if (!holdsAny) box.widget->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
}

// Each text field is named by its label (its buddy) for screen readers.
void NameFieldsByTheirLabels(const BuiltDialog& built, std::span<const FieldLabel> labels) {
    for (const FieldLabel& pair : labels) {
        for (const auto& placed : built.controls) {
            auto* label = qobject_cast<QLabel*>(placed.widget);
            if (label && placed.entry->text == pair.label) label->setBuddy(built.Control(pair.fieldId));
        }
    }
}

// Whether the focus can be put on the control by the keyboard at all.
bool TakesFocus(const QWidget* widget) {
    return widget->focusPolicy() != Qt::NoFocus && widget->isEnabled() && !widget->isHidden();
}

// The index of a control in template order, or -1.
ptrdiff_t IndexOf(const BuiltDialog& built, const QWidget* widget) {
    for (size_t i = 0; i < built.controls.size(); ++i)
        if (built.controls[i].widget == widget) return static_cast<ptrdiff_t>(i);
    return -1;
}

// The arrow keys of a dialog's buttons: the focus moves to the next control of
// the button's group (Down, Right) or the previous one (Up, Left), round
// within the group, and a radio button reached is checked.  Text fields keep
// their arrow keys for the caret.
class GroupArrowKeys : public QObject {
public:
    GroupArrowKeys(const BuiltDialog& built, QObject* parent) : QObject(parent), built_(built) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
        bool forward = true;
        switch (key->key()) {
        case Qt::Key_Down:
        case Qt::Key_Right: break;
        case Qt::Key_Up:
        case Qt::Key_Left: forward = false; break;
        default: return false;
        }
        QWidget* target = NextInGroup(built_, static_cast<QWidget*>(watched), forward);
        if (!target) return false;
        target->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        auto* radio = qobject_cast<QRadioButton*>(target);
        if (radio && !radio->isChecked()) radio->click();
        return true;
    }

private:
    const BuiltDialog& built_;
};

QRect GeometryOf(const ControlLayout& control, const DialogBaseUnits& units) {
    QRect rect = DialogUnitsToPixels(units, control.x, control.y, control.width, control.height);
    // An icon control takes the icon's own size, as a Windows icon static does.
    if (control.kind == ControlKind::Icon) rect.setSize(QSize(32, 32));
    return rect;
}

// Radio buttons between two group starts form one exclusive group.
void GroupRadioButtons(QDialog& dialog, const std::vector<BuiltDialog::Placed>& controls) {
    QButtonGroup* group = nullptr;
    for (const auto& placed : controls) {
        if (placed.entry->group) group = nullptr;
        if (placed.entry->kind != ControlKind::Radio) continue;
        if (!group) group = new QButtonGroup(&dialog);
        group->addButton(static_cast<QAbstractButton*>(placed.widget), placed.entry->id);
    }
}

void ChainTabStops(const std::vector<BuiltDialog::Placed>& controls) {
    QWidget* previous = nullptr;
    for (const auto& placed : controls) {
        if (!placed.entry->tabStop) continue;
        if (previous) QWidget::setTabOrder(previous, placed.widget);
        previous = placed.widget;
    }
}

}  // namespace

QIcon ApplicationIcon() {
    static const QIcon icon = [] {
        QIcon loaded;
        loaded.addFile(QStringLiteral(":/icons/tessarbolink-32.png"), QSize(32, 32));
        loaded.addFile(QStringLiteral(":/icons/tessarbolink-64.png"), QSize(64, 64));
        return loaded;
    }();
    return icon;
}

BuiltDialog BuildDialog(QDialog& dialog, const DialogLayout& table) {
    BuiltDialog built;
    const QFont font = DialogFont(table.fontName, table.fontPoints);
    dialog.setFont(font);
    built.units = BaseUnitsOf(font);
    dialog.setWindowTitle(QtText(table.caption));
    dialog.setFixedSize(DialogUnitsToPixels(built.units, table.width, table.height));

    for (const ControlLayout& control : table.controls) {
        QWidget* widget = MakeControl(control, dialog);
        widget->setGeometry(GeometryOf(control, built.units));
        widget->setFocusPolicy(FocusPolicyOf(control));
        if (LetsClicksThrough(control.kind)) widget->setAttribute(Qt::WA_TransparentForMouseEvents);
        if (control.kind == ControlKind::GroupBox) widget->lower();
        if (control.id >= 0) built.byId[control.id] = widget;
        built.controls.push_back({&control, widget});
    }
    GroupRadioButtons(dialog, built.controls);
    ChainTabStops(built.controls);
    PutControlsIntoGroupBoxes(built.controls);
    return built;
}

void AddKeyboardAndNames(QDialog& dialog, const BuiltDialog& built, std::span<const FieldLabel> labels) {
    NameFieldsByTheirLabels(built, labels);
    auto* arrows = new GroupArrowKeys(built, &dialog);
    for (const auto& placed : built.controls) {
        if (qobject_cast<QAbstractButton*>(placed.widget)) placed.widget->installEventFilter(arrows);
    }
}

QWidget* NextTabStop(const BuiltDialog& built, const QWidget* from, bool forward) {
    const auto count = static_cast<ptrdiff_t>(built.controls.size());
    if (count == 0) return nullptr;
    const ptrdiff_t start = IndexOf(built, from);
    ptrdiff_t i = start >= 0 ? start : (forward ? -1 : count);
    for (ptrdiff_t step = 0; step < count; ++step) {
        i = ((forward ? i + 1 : i - 1) + count) % count;
        const auto& placed = built.controls[static_cast<size_t>(i)];
        auto* radio = qobject_cast<QRadioButton*>(placed.widget);
        const bool stop = placed.entry->tabStop || (radio && radio->isChecked());
        if (stop && TakesFocus(placed.widget)) return placed.widget;
    }
    return nullptr;
}

QWidget* NextInGroup(const BuiltDialog& built, const QWidget* from, bool forward) {
    const ptrdiff_t at = IndexOf(built, from);
    if (at < 0) return nullptr;
    // The group: from the last control at or before this one that starts a
    // group, up to the next one that does.
    ptrdiff_t first = at;
    while (first > 0 && !built.controls[static_cast<size_t>(first)].entry->group) --first;
    auto last = static_cast<ptrdiff_t>(built.controls.size());
    for (ptrdiff_t i = at + 1; i < last; ++i) {
        if (built.controls[static_cast<size_t>(i)].entry->group) last = i;
    }
    const ptrdiff_t size = last - first;
    for (ptrdiff_t step = 1; step < size; ++step) {
        const ptrdiff_t i = first + ((at - first + (forward ? step : -step)) % size + size) % size;
        QWidget* widget = built.controls[static_cast<size_t>(i)].widget;
        if (TakesFocus(widget)) return widget;
    }
    return nullptr;
}

void SetButtonChecked(QAbstractButton& button, bool checked) {
    if (button.isChecked() == checked) return;
    QButtonGroup* group = button.group();
    if (!checked && group && group->exclusive()) {
        // An exclusive group refuses to clear its only checked button.
        group->setExclusive(false);
        button.setChecked(false);
        group->setExclusive(true);
        return;
    }
    button.setChecked(checked);
}

void CentreOverOwner(QWidget& dialog) {
    QWidget* owner = dialog.parentWidget() ? dialog.parentWidget()->window() : nullptr;
    QScreen* shown = owner ? owner->screen() : dialog.screen();
    const QRect work = shown->availableGeometry();
    QRect frame(QPoint(), dialog.size());
    frame.moveCenter(owner ? owner->frameGeometry().center() : work.center());
    // Pull it back inside the work area where it would stick out.
    if (frame.right() > work.right()) frame.moveRight(work.right());
    if (frame.bottom() > work.bottom()) frame.moveBottom(work.bottom());
    if (frame.left() < work.left()) frame.moveLeft(work.left());
    if (frame.top() < work.top()) frame.moveTop(work.top());
    dialog.move(frame.topLeft());
}
