#include "ui/framework/Controls.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStyle>
#include <QThread>
#include <QTreeWidget>

#include "common/Wipe.h"
#include "platform/SecureZero.h"
#include "ui/framework/QtText.h"

void CWnd::SetWindowText(const std::string& text) {
    QWidget* widget = m_widget;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(ToQ(text));
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(ToQ(text));
    } else if (auto* multiline = qobject_cast<QPlainTextEdit*>(widget)) {
        multiline->setPlainText(ToQ(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(ToQ(text));
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->setEditText(ToQ(text));
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        group->setTitle(ToQ(text));
    } else if (widget != nullptr) {
        widget->setWindowTitle(ToQ(text));
    }
}

std::string CWnd::GetWindowText() const {
    QWidget* widget = m_widget;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return FromQ(label->text());
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        return FromQ(edit->text());
    } else if (auto* multiline = qobject_cast<QPlainTextEdit*>(widget)) {
        return FromQ(multiline->toPlainText());
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        return FromQ(button->text());
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        return FromQ(combo->currentText());
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        return FromQ(group->title());
    } else if (widget != nullptr) {
        return FromQ(widget->windowTitle());
    }
    return {};
}

void CWnd::EnableWindow(bool enable) {
    if (m_widget) {
        m_widget->setEnabled(enable);
    }
}

bool CWnd::IsWindowEnabled() const {
    return m_widget && m_widget->isEnabled();
}

void CEdit::TakeSecretText(std::string& text) {
    Wipe(text);
    auto* edit = qobject_cast<QLineEdit*>(m_widget.data());
    if (edit == nullptr) {
        return;
    }
    // text() shares the field's own buffer (implicit sharing): writing through the shared
    // copy reaches it, where data() would detach and overwrite a fresh copy only.
    const QString typed = edit->text();
    QByteArray utf8 = typed.toUtf8();
    text.assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    SecureZero(utf8.data(), static_cast<std::size_t>(utf8.size()));
    SecureZero(const_cast<QChar*>(typed.constData()),
               static_cast<std::size_t>(typed.size()) * sizeof(QChar));
    // setText, unlike clear(), also drops the field's undo steps.
    edit->setText(QString());
}

QComboBox* CComboBox::Box() const {
    return qobject_cast<QComboBox*>(m_widget.data());
}

void CComboBox::ResetContent() {
    if (QComboBox* box = Box()) {
        box->clear();
        box->clearEditText();
    }
}

int CComboBox::AddString(const std::string& text) {
    QComboBox* box = Box();
    if (box == nullptr) {
        return -1;
    }
    int selected = box->currentIndex();
    QString editText = box->currentText();
    box->addItem(ToQ(text));
    if (selected < 0) {
        box->setCurrentIndex(-1);
        box->setEditText(editText);
    }
    return box->count() - 1;
}

int CComboBox::DeleteString(int index) {
    QComboBox* box = Box();
    if (box == nullptr || index < 0 || index >= box->count()) {
        return -1;
    }
    box->removeItem(index);
    return box->count();
}

int CComboBox::GetCount() const {
    QComboBox* box = Box();
    return box ? box->count() : 0;
}

int CComboBox::GetCurSel() const {
    QComboBox* box = Box();
    return box ? box->currentIndex() : -1;
}

void CComboBox::SetCurSel(int index) {
    if (QComboBox* box = Box()) {
        box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
    }
}

std::string CComboBox::GetLBText(int index) const {
    QComboBox* box = Box();
    return box && index >= 0 && index < box->count() ? FromQ(box->itemText(index)) : std::string();
}

int CComboBox::FindStringExact(int start, const std::string& text) const {
    QComboBox* box = Box();
    if (box == nullptr) {
        return -1;
    }
    const int count = box->count();
    const QString wanted = ToQ(text);
    int first = start >= 0 && start < count ? start + 1 : 0;
    for (int step = 0; step < count; ++step) {
        int index = (first + step) % count;
        if (box->itemText(index).compare(wanted, Qt::CaseInsensitive) == 0) {
            return index;
        }
    }
    return -1;
}

QListWidget* CListBox::List() const {
    return qobject_cast<QListWidget*>(m_widget.data());
}

void CListBox::ResetContent() {
    if (QListWidget* list = List()) {
        list->clear();
    }
}

int CListBox::AddString(const std::string& text) {
    QListWidget* list = List();
    if (list == nullptr) {
        return -1;
    }
    list->addItem(ToQ(text));
    return list->count() - 1;
}

int CListBox::GetCount() const {
    QListWidget* list = List();
    return list ? list->count() : 0;
}

std::string CListBox::GetText(int index) const {
    QListWidget* list = List();
    if (list == nullptr || index < 0 || index >= list->count()) {
        return {};
    }
    return FromQ(list->item(index)->text());
}

void CListBox::SetHorizontalExtent(int pixels) {
    // Qt's list scrolls sideways to its widest line, which covers every extent asked for;
    // all that is needed is the scroll bar.
    if (QListWidget* list = List(); list != nullptr && pixels > 0) {
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    }
}

void CListBox::AddLine(const std::string& text) {
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
        std::lock_guard<std::mutex> guard(m_pendingLock);
        m_pendingLines.push_back(text);
        return;
    }
    ShowPendingLines();
    AddString(text);
}

void CListBox::ShowPendingLines() {
    std::vector<std::string> lines;
    {
        std::lock_guard<std::mutex> guard(m_pendingLock);
        lines.swap(m_pendingLines);
    }
    for (const std::string& line : lines) {
        AddString(line);
    }
}

QTreeWidget* CListCtrl::Tree() const {
    return qobject_cast<QTreeWidget*>(m_widget.data());
}

void CListCtrl::DeleteAllItems() {
    if (QTreeWidget* tree = Tree()) {
        tree->clear();
    }
}

int CListCtrl::InsertItem(int index, const std::string& text) {
    QTreeWidget* tree = Tree();
    if (tree == nullptr) {
        return -1;
    }
    if (index < 0 || index > tree->topLevelItemCount()) {
        index = tree->topLevelItemCount();
    }
    auto* item = new QTreeWidgetItem(QStringList{ToQ(text)});
    tree->insertTopLevelItem(index, item);
    return index;
}

bool CListCtrl::SetItemText(int item, int subItem, const std::string& text) {
    QTreeWidget* tree = Tree();
    QTreeWidgetItem* row = tree ? tree->topLevelItem(item) : nullptr;
    if (row == nullptr || subItem < 0 || subItem >= tree->columnCount()) {
        return false;
    }
    row->setText(subItem, ToQ(text));
    return true;
}

std::string CListCtrl::GetItemText(int item, int subItem) const {
    QTreeWidget* tree = Tree();
    QTreeWidgetItem* row = tree ? tree->topLevelItem(item) : nullptr;
    return row ? FromQ(row->text(subItem)) : std::string();
}

int CListCtrl::GetItemCount() const {
    QTreeWidget* tree = Tree();
    return tree ? tree->topLevelItemCount() : 0;
}

int CListCtrl::GetSelectedItem() const {
    QTreeWidget* tree = Tree();
    if (tree == nullptr) {
        return -1;
    }
    const QList<QTreeWidgetItem*> selected = tree->selectedItems();
    return selected.isEmpty() ? -1 : tree->indexOfTopLevelItem(selected.first());
}

void CListCtrl::SelectItem(int item) {
    QTreeWidget* tree = Tree();
    if (tree == nullptr) {
        return;
    }
    if (QTreeWidgetItem* row = tree->topLevelItem(item)) {
        tree->setCurrentItem(row);
        tree->scrollToItem(row);
    } else {
        tree->clearSelection();
    }
}

void CListCtrl::MarkItem(int item, int signColumn) {
    QTreeWidget* tree = Tree();
    QTreeWidgetItem* row = tree ? tree->topLevelItem(item) : nullptr;
    if (row == nullptr) {
        return;
    }
    row->setIcon(signColumn, QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning));
    for (int column = 0; column < tree->columnCount(); ++column) {
        row->setForeground(column, QColor(0xb0, 0x00, 0x00));
    }
}
