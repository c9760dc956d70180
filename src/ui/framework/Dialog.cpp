#include "ui/framework/Dialog.h"

#include <QApplication>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <stdexcept>

#include "ui/framework/BusyWork.h"
#include "ui/framework/DialogBuilder.h"
#include "ui/framework/DialogWidget.h"
#include "ui/framework/ProgramResources.h"

namespace {

std::function<void(CDialogEx&)>& ModalObserver() {
    static std::function<void(CDialogEx&)> observer;
    return observer;
}

}  // namespace

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
    DialogWidgetEvents events;
    events.clicked = [this](int id) { OnCommand(Notification::Clicked, id); };
    events.close = [this] { SendSysCommand(SC_CLOSE); };
    events.contextMenu = [this](const QPoint& at) { ShowContextMenu(at); };
    auto* widget = new DialogWidget(std::move(events), owner, DialogWindowFlags(*dialog));
    m_widget = widget;
    m_ended = false;
    m_result = -1;
    m_hasSystemMenu = (dialog->styles & kStyleSysMenu) != 0;
    m_systemMenu.m_items.clear();
    m_controls.clear();
    try {
        for (const auto& [id, control] :
             BuildDialog(*dialog, *widget, [this](Notification notification, int controlId) {
                 OnCommand(notification, controlId);
             })) {
            m_controls.emplace_back(id, control);
        }
    } catch (...) {
        DestroyWindow();
        throw;
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
    if (const unsigned chosen = ChooseFromMenu(*menu, m_widget, globalPos); chosen != 0) {
        SendSysCommand(chosen);
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
    const uint32_t result = RunBusyWork(m_widget, m_busyWait, statusList, work);
    m_busy = false;
    return result;
}

void CDialogEx::SetBusyWait(BusyWait wait) {
    m_busyWait = std::move(wait);
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
