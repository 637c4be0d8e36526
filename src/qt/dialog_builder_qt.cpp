#include "qt/dialog_builder_qt.h"

#include <limits>

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
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
    default: return Qt::ClickFocus;  // radio buttons: reached by clicks and arrow keys only
    }
}

bool LetsClicksThrough(ControlKind kind) {
    return kind == ControlKind::GroupBox || kind == ControlKind::Label || kind == ControlKind::LabelNoPrefix ||
           kind == ControlKind::Icon || kind == ControlKind::PathLabel || kind == ControlKind::ProgressBar;
}

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
    return built;
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
