#include "ui/framework/Dialog.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <stdexcept>

#include "ui/framework/BusyWork.h"
#include "ui/framework/Icons.h"

namespace {

std::function<void(CDialogEx&)>& ModalObserver() {
    static std::function<void(CDialogEx&)> observer;
    return observer;
}

QString ToQ(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

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

// As on Windows, a read-only field has the window's background.
void ShowAsReadOnly(QWidget* edit) {
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    edit->setPalette(palette);
}

QWidget* MultilineEdit(const ControlTemplate& control, QWidget* parent) {
    auto* edit = new QPlainTextEdit(parent);
    edit->setFrameShape((control.styles & kStyleBorder) ? QFrame::StyledPanel : QFrame::NoFrame);
    edit->setVerticalScrollBarPolicy((control.styles & kStyleVScroll) ? Qt::ScrollBarAsNeeded
                                                                      : Qt::ScrollBarAlwaysOff);
    // Long words (a fingerprint) break at the edge rather than hide behind it.
    edit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    if (control.styles & kStyleReadOnly) {
        edit->setReadOnly(true);
        ShowAsReadOnly(edit);
    }
    return edit;
}

// Rows selected whole, one at a time, without the tree's branch indentation; each column as
// wide as its widest text, the last one filling what is left.
QTreeWidget* Table(const ControlTemplate& control, QWidget* parent) {
    auto* table = new QTreeWidget(parent);
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
    table->setVerticalScrollBarPolicy((control.styles & kStyleVScroll) ? Qt::ScrollBarAsNeeded
                                                                       : Qt::ScrollBarAlwaysOff);
    table->setFrameShape((control.styles & kStyleBorder) ? QFrame::StyledPanel : QFrame::NoFrame);
    return table;
}

}  // namespace

// The Qt window behind a CDialogEx: keys, the close box and the context menu are turned
// into the dialog's commands, as a Windows dialog does.
class DialogWidget : public QDialog {
public:
    DialogWidget(CDialogEx* dialog, QWidget* owner, Qt::WindowFlags flags)
        : QDialog(owner, flags), m_dialog(dialog) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)) {
            QWidget::keyPressEvent(event);  // not QDialog's: it would end the dialog itself
            return;
        }
        switch (event->key()) {
            case Qt::Key_Escape:
                m_dialog->OnCommand(Notification::Clicked, IDCANCEL);
                return;
            case Qt::Key_Return:
            case Qt::Key_Enter: {
                // The focused push button answers Enter; otherwise the default button, and
                // without one the dialog takes it as OK.
                auto* focused = qobject_cast<QPushButton*>(focusWidget());
                if (focused != nullptr && focused->isEnabled()) {
                    focused->click();
                    return;
                }
                for (QPushButton* button : findChildren<QPushButton*>()) {
                    if (button->isDefault() && button->isEnabled()) {
                        button->click();
                        return;
                    }
                }
                m_dialog->OnCommand(Notification::Clicked, IDOK);
                return;
            }
            default:
                QWidget::keyPressEvent(event);
        }
    }

    void closeEvent(QCloseEvent* event) override {
        // The dialog decides: its close command ends it through EndDialog.
        event->ignore();
        m_dialog->SendSysCommand(SC_CLOSE);
    }

    void contextMenuEvent(QContextMenuEvent* event) override {
        m_dialog->ShowContextMenu(event->globalPos());
    }

private:
    CDialogEx* m_dialog;
};

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    control.Attach(pDX->m_pDlgWnd->GetDlgItem(id));
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
    pDX->m_idLastControl = id;
    if (pDX->m_bSaveAndValidate) {
        value = pDX->m_pDlgWnd->GetDlgItemText(id);
    } else {
        pDX->m_pDlgWnd->SetDlgItemText(id, value);
    }
}

void DDV_MaxChars(CDataExchange* pDX, const std::string&, int characters) {
    // The control itself keeps the limit, so a saved text never exceeds it.
    if (!pDX->m_bSaveAndValidate) {
        if (auto* edit =
                qobject_cast<QLineEdit*>(pDX->m_pDlgWnd->GetDlgItem(pDX->m_idLastControl))) {
            edit->setMaxLength(characters);
        }
    }
}

void CMenu::AppendSeparator() {
    m_items.push_back({0, {}});
}

void CMenu::AppendItem(unsigned id, const std::string& text) {
    m_items.push_back({id, text});
}

CDialogEx::CDialogEx(int templateId, CDialogEx* parent)
    : m_templateId(templateId), m_parent(parent) {}

CDialogEx::~CDialogEx() {
    DestroyWindow();
}

const MessageMap* CDialogEx::GetThisMessageMap() {
    static const MessageMapEntry entries[] = {{Notification::End, 0, nullptr, nullptr}};
    static const MessageMap map = {nullptr, entries};
    return &map;
}

const MessageMap* CDialogEx::GetMessageMap() const {
    return GetThisMessageMap();
}

void CDialogEx::SetModalObserver(std::function<void(CDialogEx&)> observer) {
    ModalObserver() = std::move(observer);
}

QDialog* CDialogEx::GetWidget() const {
    return m_widget;
}

bool CDialogEx::Build(QWidget* owner) {
    const DialogTemplate* dialog = FindDialogTemplate(m_templateId);
    if (dialog == nullptr || m_widget) {
        return false;
    }
    Qt::WindowFlags flags = (dialog->styles & kStyleAppWindow) ? Qt::Window : Qt::Dialog;
    flags |= Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint;
    if (dialog->styles & kStyleCaption) {
        flags |= Qt::WindowTitleHint;
    }
    if (dialog->styles & kStyleSysMenu) {
        flags |= Qt::WindowSystemMenuHint;
    }
    if (dialog->styles & kStyleMinimizeBox) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    auto* widget = new DialogWidget(this, owner, flags);
    m_widget = widget;
    m_ended = false;
    m_result = -1;
    m_hasSystemMenu = (dialog->styles & kStyleSysMenu) != 0;
    m_systemMenu.m_items.clear();
    m_controls.clear();

    QFont font = QApplication::font();
    if (QFontDatabase::hasFamily(ToQ(dialog->fontFamily))) {
        font.setFamily(ToQ(dialog->fontFamily));
    }
    font.setPointSize(dialog->fontPoints);
    widget->setFont(font);
    const BaseUnits units = MeasureBaseUnits(font);
    const int lineHeight = QFontMetrics(font).height();

    widget->setWindowTitle(ToQ(dialog->title));
    QSize client(units.ToX(dialog->width), units.ToY(dialog->height));
    if (dialog->styles & kStyleSizing) {
        widget->resize(client);
    } else {
        widget->setFixedSize(client);
    }

    std::vector<QWidget*> groups;
    for (const ControlTemplate& control : dialog->controls) {
        QRect place(units.ToX(control.x), units.ToY(control.y), units.ToX(control.width),
                    units.ToY(control.height));
        QWidget* created = nullptr;
        switch (control.kind) {
            case ControlKind::Label: {
                auto* label = new QLabel(widget);
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
                created = label;
                break;
            }
            case ControlKind::Group: {
                auto* group = new QGroupBox(ToQ(control.text), widget);
                groups.push_back(group);
                created = group;
                break;
            }
            case ControlKind::Edit: {
                if (control.styles & kStyleMultiline) {
                    created = MultilineEdit(control, widget);
                    break;
                }
                auto* edit = new QLineEdit(widget);
                edit->setFrame((control.styles & kStyleBorder) != 0);
                if (control.styles & kStyleReadOnly) {
                    edit->setReadOnly(true);
                    ShowAsReadOnly(edit);
                }
                if (control.styles & kStylePassword) {
                    edit->setEchoMode(QLineEdit::Password);
                }
                created = edit;
                break;
            }
            case ControlKind::Combo: {
                auto* combo = new QComboBox(widget);
                if (control.styles & kStyleDropDown) {
                    combo->setEditable(true);
                    combo->setInsertPolicy(QComboBox::NoInsert);
                }
                // The template's height is that of the dropped-down list.
                int closedHeight = units.ToY(14);
                combo->setMaxVisibleItems(
                    std::max(1, (place.height() - closedHeight) / lineHeight));
                place.setHeight(closedHeight);
                const int id = control.id;
                QObject::connect(combo, &QComboBox::activated, widget,
                                 [this, id](int) { OnCommand(Notification::SelChange, id); });
                created = combo;
                break;
            }
            case ControlKind::List: {
                auto* list = new QListWidget(widget);
                if (control.styles & kStyleNoSelect) {
                    list->setSelectionMode(QAbstractItemView::NoSelection);
                }
                list->setVerticalScrollBarPolicy((control.styles & kStyleVScroll)
                                                     ? Qt::ScrollBarAsNeeded
                                                     : Qt::ScrollBarAlwaysOff);
                list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                list->setFrameShape((control.styles & kStyleBorder) ? QFrame::StyledPanel
                                                                    : QFrame::NoFrame);
                created = list;
                break;
            }
            case ControlKind::Table: {
                auto* table = Table(control, widget);
                const int id = control.id;
                QObject::connect(table, &QTreeWidget::itemSelectionChanged, widget,
                                 [this, id] { OnCommand(Notification::ItemChanged, id); });
                created = table;
                break;
            }
            case ControlKind::Button: {
                auto* button = new QPushButton(ToQ(control.text), widget);
                button->setAutoDefault(true);
                button->setDefault((control.styles & kStyleDefault) != 0);
                const int id = control.id;
                QObject::connect(button, &QPushButton::clicked, widget,
                                 [this, id] { OnCommand(Notification::Clicked, id); });
                created = button;
                break;
            }
            case ControlKind::Icon: {
                // As on Windows, an icon control takes the icon's own size.
                auto* label = new QLabel(widget);
                label->setPixmap(LoadIcon(std::atoi(control.text.c_str())).pixmap(32, 32));
                place.setSize(QSize(32, 32));
                created = label;
                break;
            }
        }
        created->setGeometry(place);
        if (control.id != -1) {
            created->setObjectName(QStringLiteral("control%1").arg(control.id));
            m_controls.emplace_back(control.id, created);
        }
    }
    // Group boxes are frames behind the controls they hold.
    for (QWidget* group : groups) {
        group->lower();
    }
    return true;
}

int CDialogEx::DoModal() {
    QWidget* owner = m_parent ? static_cast<QWidget*>(m_parent->GetWidget()) : nullptr;
    if (owner == nullptr) {
        owner = QApplication::activeModalWidget();
    }
    if (owner == nullptr) {
        owner = QApplication::activeWindow();
    }
    if (!Build(owner)) {
        return -1;
    }
    m_widget->setWindowModality(Qt::ApplicationModal);
    {
        UnderWay initialising(*this);
        OnInitDialog();
    }
    if (!m_ended && m_widget) {
        if (ModalObserver()) {
            auto observer = ModalObserver();
            QTimer::singleShot(0, m_widget, [this, observer] { observer(*this); });
        }
        m_widget->exec();
    }
    int result = m_result;
    DestroyWindow();
    return result;
}

bool CDialogEx::Create() {
    QWidget* owner = m_parent ? static_cast<QWidget*>(m_parent->GetWidget()) : nullptr;
    if (!Build(owner)) {
        return false;
    }
    {
        UnderWay initialising(*this);
        OnInitDialog();
    }
    if (!m_ended && m_widget) {
        m_widget->show();
    }
    return true;
}

void CDialogEx::DestroyWindow() {
    m_controls.clear();
    delete m_widget.data();
}

void CDialogEx::EndDialog(int result) {
    m_result = result;
    m_ended = true;
    if (m_widget) {
        m_widget->done(result);
    }
}

bool CDialogEx::UpdateData(bool saveAndValidate) {
    if (!m_widget) {
        return false;
    }
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    return true;
}

QWidget* CDialogEx::GetDlgItem(int id) const {
    for (const auto& [controlId, widget] : m_controls) {
        if (controlId == id) {
            return widget;
        }
    }
    return nullptr;
}

void CDialogEx::SetDlgItemText(int id, const std::string& text) {
    CWnd control;
    control.Attach(GetDlgItem(id));
    control.SetWindowText(text);
}

std::string CDialogEx::GetDlgItemText(int id) const {
    CWnd control;
    control.Attach(GetDlgItem(id));
    return control.GetWindowText();
}

CMenu* CDialogEx::GetSystemMenu() {
    return m_widget && m_hasSystemMenu ? &m_systemMenu : nullptr;
}

void CDialogEx::SetIcon(const QIcon& icon, bool) {
    // One window icon serves both sizes: the window manager scales it.
    if (m_widget) {
        m_widget->setWindowIcon(icon);
    }
}

void CDialogEx::CenterWindow() {
    if (!m_widget) {
        return;
    }
    QRect area;
    if (QWidget* owner = m_widget->parentWidget()) {
        area = owner->window()->frameGeometry();
    } else if (QScreen* screen = m_widget->screen()) {
        area = screen->availableGeometry();
    }
    if (area.isValid()) {
        QRect frame = m_widget->frameGeometry();
        frame.moveCenter(area.center());
        m_widget->move(frame.topLeft());
    }
}

bool CDialogEx::OnCommand(Notification notification, int id) {
    if (!m_widget || m_busy) {
        return false;
    }
    for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base) {
        for (const MessageMapEntry* entry = map->entries; entry->notification != Notification::End;
             ++entry) {
            if (entry->notification == notification && entry->controlId == id && entry->command) {
                UnderWay handling(*this);
                (this->*(entry->command))();
                return true;
            }
        }
    }
    if (notification == Notification::Clicked && id == IDOK) {
        UnderWay handling(*this);
        OnOK();
        return true;
    }
    if (notification == Notification::Clicked && id == IDCANCEL) {
        UnderWay handling(*this);
        OnCancel();
        return true;
    }
    return false;
}

void CDialogEx::SendSysCommand(unsigned id, intptr_t param) {
    UnderWay handling(*this);
    for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base) {
        for (const MessageMapEntry* entry = map->entries; entry->notification != Notification::End;
             ++entry) {
            if (entry->notification == Notification::SysCommand && entry->sysCommand) {
                (this->*(entry->sysCommand))(id, param);
                return;
            }
        }
    }
    OnSysCommand(id, param);
}

void CDialogEx::ShowContextMenu(const QPoint& globalPos) {
    CMenu* menu = GetSystemMenu();
    if (menu == nullptr || m_busy) {
        return;
    }
    UnderWay showing(*this);
    QMenu popup(m_widget);
    for (const CMenu::Item& item : menu->m_items) {
        if (item.id == 0) {
            popup.addSeparator();
        } else {
            popup.addAction(ToQ(item.text))->setData(item.id);
        }
    }
    if (popup.actions().isEmpty()) {
        return;
    }
    if (QAction* chosen = popup.exec(globalPos)) {
        SendSysCommand(chosen->data().toUInt());
    }
}

bool CDialogEx::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialogEx::DoDataExchange(CDataExchange*) {}

void CDialogEx::OnOK() {
    if (UpdateData(true)) {
        EndDialog(IDOK);
    }
}

void CDialogEx::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialogEx::OnSysCommand(unsigned id, intptr_t) {
    if ((id & 0xFFF0) == SC_CLOSE) {
        OnCommand(Notification::Clicked, IDCANCEL);
    }
}

uint32_t CDialogEx::RunBusy(const std::function<uint32_t()>& work, CListBox& statusList) {
    if (m_busy) {
        throw std::logic_error("RunBusy: the dialog's work is already running");
    }
    UnderWay working(*this);
    m_busy = true;
    if (m_widget && !m_widget->isVisible()) {
        // The window is seen while it works, also during its initialisation.
        m_widget->show();
    }
    const uint32_t result = RunBusyWork(m_widget, statusList, work);
    m_busy = false;
    return result;
}

void CDialogEx::RunWhenIdle(CommandHandler handler) {
    if (std::find(m_idleHandlers.begin(), m_idleHandlers.end(), handler) == m_idleHandlers.end()) {
        m_idleHandlers.push_back(handler);
    }
    RunIdleHandlers();
}

void CDialogEx::RunIdleHandlers() {
    if (m_underWay > 0 || !m_widget) {
        return;
    }
    UnderWay handling(*this);
    std::vector<CommandHandler> handlers;
    handlers.swap(m_idleHandlers);
    for (CommandHandler handler : handlers) {
        if (m_widget) {
            (this->*handler)();
        }
    }
}

CDialogEx::UnderWay::UnderWay(CDialogEx& dialog) : m_dialog(dialog) {
    ++m_dialog.m_underWay;
}

CDialogEx::UnderWay::~UnderWay() {
    if (--m_dialog.m_underWay == 0 && !m_dialog.m_idleHandlers.empty() && m_dialog.m_widget) {
        // From the event loop: the code that ran the last handler goes on first.
        QTimer::singleShot(0, m_dialog.m_widget,
                           [dialog = &m_dialog] { dialog->RunIdleHandlers(); });
    }
}
