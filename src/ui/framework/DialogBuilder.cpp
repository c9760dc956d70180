#include "ui/framework/DialogBuilder.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "ui/framework/ProgramResources.h"
#include "ui/framework/QtText.h"

namespace {

// Dialog units to pixels from the dialog font, as Windows does it: the average width of
// the 52 Latin letters (rounded) and the font height.
struct BaseUnits {
    int x;
    int y;
    int ToX(int units) const { return (units * x + 2) / 4; }
    int ToY(int units) const { return (units * y + 4) / 8; }
};

BaseUnits MeasureBaseUnits(const QFont& font) {
    QFontMetrics metrics(font);
    int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(width / 26 + 1) / 2, metrics.height()};
}

// What every maker needs besides its control's template.
struct MakerContext {
    QWidget& window;
    const ControlNotify& notify;
    BaseUnits units;
    int lineHeight;
};

// Makes the control on the window; may change `place`, which starts as the template's.
using ControlMaker = QWidget* (*)(const ControlTemplate& control, const MakerContext& context,
                                  QRect& place);

Qt::ScrollBarPolicy VerticalScrollBar(const ControlTemplate& control) {
    return (control.styles & kStyleVScroll) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
}

QFrame::Shape FrameShape(const ControlTemplate& control) {
    return (control.styles & kStyleBorder) ? QFrame::StyledPanel : QFrame::NoFrame;
}

// As on Windows, a read-only field has the window's background.
void ShowAsReadOnly(QWidget* edit) {
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    edit->setPalette(palette);
}

QWidget* MakeLabel(const ControlTemplate& control, const MakerContext& context, QRect&) {
    auto* label = new QLabel(&context.window);
    label->setTextFormat(Qt::PlainText);
    label->setText(ToQ(control.text));
    Qt::Alignment horizontal = (control.styles & kStyleRight)    ? Qt::AlignRight
                               : (control.styles & kStyleCenter) ? Qt::AlignHCenter
                                                                 : Qt::AlignLeft;
    if (control.styles & kStyleVCenter) {
        label->setAlignment(horizontal | Qt::AlignVCenter);
    } else {
        label->setAlignment(horizontal | Qt::AlignTop);
        label->setWordWrap(true);
    }
    if (control.styles & kStyleSunken) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setLineWidth(1);
    }
    return label;
}

QWidget* MakeGroup(const ControlTemplate& control, const MakerContext& context, QRect&) {
    return new QGroupBox(ToQ(control.text), &context.window);
}

QWidget* MakeMultilineEdit(const ControlTemplate& control, const MakerContext& context) {
    auto* edit = new QPlainTextEdit(&context.window);
    edit->setFrameShape(FrameShape(control));
    edit->setVerticalScrollBarPolicy(VerticalScrollBar(control));
    // Long words (a fingerprint) break at the edge rather than hide behind it.
    edit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    if (control.styles & kStyleReadOnly) {
        edit->setReadOnly(true);
        ShowAsReadOnly(edit);
    }
    return edit;
}

QWidget* MakeEdit(const ControlTemplate& control, const MakerContext& context, QRect&) {
    if (control.styles & kStyleMultiline) {
        return MakeMultilineEdit(control, context);
    }
    auto* edit = new QLineEdit(&context.window);
    edit->setFrame((control.styles & kStyleBorder) != 0);
    if (control.styles & kStyleReadOnly) {
        edit->setReadOnly(true);
        ShowAsReadOnly(edit);
    }
    if (control.styles & kStylePassword) {
        edit->setEchoMode(QLineEdit::Password);
    }
    return edit;
}

QWidget* MakeCombo(const ControlTemplate& control, const MakerContext& context, QRect& place) {
    auto* combo = new QComboBox(&context.window);
    if (control.styles & kStyleDropDown) {
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
    }
    // The template's height is that of the dropped-down list.
    const int closedHeight = context.units.ToY(14);
    combo->setMaxVisibleItems(std::max(1, (place.height() - closedHeight) / context.lineHeight));
    place.setHeight(closedHeight);
    QObject::connect(
        combo, &QComboBox::activated, &context.window,
        [notify = context.notify, id = control.id](int) { notify(Notification::SelChange, id); });
    return combo;
}

QWidget* MakeList(const ControlTemplate& control, const MakerContext& context, QRect&) {
    auto* list = new QListWidget(&context.window);
    if (control.styles & kStyleNoSelect) {
        list->setSelectionMode(QAbstractItemView::NoSelection);
    }
    list->setVerticalScrollBarPolicy(VerticalScrollBar(control));
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setFrameShape(FrameShape(control));
    return list;
}

// Rows selected whole, one at a time, without the tree's branch indentation; each column as
// wide as its widest text, the last one filling what is left.
QWidget* MakeTable(const ControlTemplate& control, const MakerContext& context, QRect&) {
    auto* table = new QTreeWidget(&context.window);
    table->setHeaderLabels(ToQ(control.text).split(QLatin1Char('|')));
    table->setRootIsDecorated(false);
    table->setItemsExpandable(false);
    table->setUniformRowHeights(true);
    // Signs as tall as the text, so that a marked row is no taller than the others.
    const int side = table->fontMetrics().height();
    table->setIconSize(QSize(side, side));
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Some room between the columns, which fit their texts exactly otherwise.
    table->setStyleSheet(QStringLiteral("QTreeView::item { padding: 1px 8px 1px 2px; }"));
    table->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->header()->setStretchLastSection(true);
    table->setVerticalScrollBarPolicy(VerticalScrollBar(control));
    table->setFrameShape(FrameShape(control));
    QObject::connect(
        table, &QTreeWidget::itemSelectionChanged, &context.window,
        [notify = context.notify, id = control.id] { notify(Notification::ItemChanged, id); });
    return table;
}

QWidget* MakeButton(const ControlTemplate& control, const MakerContext& context, QRect&) {
    auto* button = new QPushButton(ToQ(control.text), &context.window);
    button->setAutoDefault(true);
    button->setDefault((control.styles & kStyleDefault) != 0);
    QObject::connect(
        button, &QPushButton::clicked, &context.window,
        [notify = context.notify, id = control.id] { notify(Notification::Clicked, id); });
    return button;
}

// The template's text is the icon's id. As on Windows, an icon control takes the icon's own
// size.
QWidget* MakeIcon(const ControlTemplate& control, const MakerContext& context, QRect& place) {
    auto* label = new QLabel(&context.window);
    label->setPixmap(LoadIcon(std::atoi(control.text.c_str())).pixmap(32, 32));
    place.setSize(QSize(32, 32));
    return label;
}

constexpr std::pair<ControlKind, ControlMaker> kMakers[] = {
    {ControlKind::Label, MakeLabel},   {ControlKind::Group, MakeGroup},
    {ControlKind::Edit, MakeEdit},     {ControlKind::Combo, MakeCombo},
    {ControlKind::List, MakeList},     {ControlKind::Table, MakeTable},
    {ControlKind::Button, MakeButton}, {ControlKind::Icon, MakeIcon},
};

ControlMaker MakerOf(ControlKind kind) {
    for (const auto& [makerKind, maker] : kMakers) {
        if (makerKind == kind) {
            return maker;
        }
    }
    throw std::logic_error("no maker for control kind " + std::to_string(static_cast<int>(kind)));
}

QFont DialogFont(const DialogTemplate& dialog) {
    QFont font = QApplication::font();
    if (QFontDatabase::hasFamily(ToQ(dialog.fontFamily))) {
        font.setFamily(ToQ(dialog.fontFamily));
    }
    font.setPointSize(dialog.fontPoints);
    return font;
}

}  // namespace

Qt::WindowFlags DialogWindowFlags(const DialogTemplate& dialog) {
    Qt::WindowFlags flags = (dialog.styles & kStyleAppWindow) ? Qt::Window : Qt::Dialog;
    flags |= Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint;
    if (dialog.styles & kStyleCaption) {
        flags |= Qt::WindowTitleHint;
    }
    if (dialog.styles & kStyleSysMenu) {
        flags |= Qt::WindowSystemMenuHint;
    }
    if (dialog.styles & kStyleMinimizeBox) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    return flags;
}

std::vector<std::pair<int, QWidget*>> BuildDialog(const DialogTemplate& dialog, QWidget& window,
                                                  const ControlNotify& notify) {
    // Every kind first: a template the framework cannot build leaves the window untouched.
    std::vector<ControlMaker> makers;
    for (const ControlTemplate& control : dialog.controls) {
        makers.push_back(MakerOf(control.kind));
    }
    const QFont font = DialogFont(dialog);
    window.setFont(font);
    const MakerContext context{window, notify, MeasureBaseUnits(font), QFontMetrics(font).height()};

    window.setWindowTitle(ToQ(dialog.title));
    const QSize client(context.units.ToX(dialog.width), context.units.ToY(dialog.height));
    if (dialog.styles & kStyleSizing) {
        window.resize(client);
    } else {
        window.setFixedSize(client);
    }

    std::vector<std::pair<int, QWidget*>> controls;
    std::vector<QWidget*> groups;
    for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
        const ControlTemplate& control = dialog.controls[i];
        QRect place(context.units.ToX(control.x), context.units.ToY(control.y),
                    context.units.ToX(control.width), context.units.ToY(control.height));
        QWidget* made = makers[i](control, context, place);
        made->setGeometry(place);
        if (control.kind == ControlKind::Group) {
            groups.push_back(made);
        }
        if (control.id != -1) {
            made->setObjectName(QStringLiteral("control%1").arg(control.id));
            controls.emplace_back(control.id, made);
        }
    }
    // Group boxes are frames behind the controls they hold.
    for (QWidget* group : groups) {
        group->lower();
    }
    return controls;
}
