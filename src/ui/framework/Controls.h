#pragma once

#include <QPointer>
#include <QWidget>
#include <mutex>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QListWidget;
class QTreeWidget;

// Wrappers over the Qt widgets that a dialog template creates. Texts are UTF-8 byte strings.
// A wrapper is bound to its widget by the dialog's data exchange (DDX_Control); until then,
// and after the dialog is gone, its operations do nothing and its queries return empty.
class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    void Attach(QWidget* widget) { m_widget = widget; }
    QWidget* GetWidget() const { return m_widget; }

    void SetWindowText(const std::string& text);
    std::string GetWindowText() const;
    void EnableWindow(bool enable);
    bool IsWindowEnabled() const;

protected:
    QPointer<QWidget> m_widget;
};

class CButton : public CWnd {};

class CEdit : public CWnd {
public:
    // For a secret typed into the field: its text moves into `text` (UTF-8; what `text` held
    // before is wiped) and the field is emptied. The field's own buffer is overwritten first,
    // and so is every copy made on the way; what Qt keeps out of reach (buffers it let go as
    // the text grew, its undo steps until the field is gone) is not.
    void TakeSecretText(std::string& text);
};

// A drop-down combo box with an edit field. Like its Windows model, adding items never
// changes the selection: an empty box gets no selection from its first item.
class CComboBox : public CWnd {
public:
    void ResetContent();
    int AddString(const std::string& text);
    int DeleteString(int index);
    int GetCount() const;
    int GetCurSel() const;
    void SetCurSel(int index);
    std::string GetLBText(int index) const;
    // Index of the first item from `start + 1` on (wrapping) whose whole text equals `text`,
    // ignoring letter case; -1 when there is none. `start` -1 searches from the top.
    int FindStringExact(int start, const std::string& text) const;

private:
    QComboBox* Box() const;
};

// The message list: unsorted lines without selection. AddLine may be called from a worker
// thread (busy work reporting as it goes): such lines wait, in order, until the
// user-interface thread shows them (ShowPendingLines, which busy work calls while it runs and
// when it ends). Nothing Qt owns crosses between the threads, only this box's own queue under
// its own lock.
class CListBox : public CWnd {
public:
    void ResetContent();
    int AddString(const std::string& text);
    int GetCount() const;
    std::string GetText(int index) const;
    // Lines wider than the box can be scrolled sideways.
    void SetHorizontalExtent(int pixels);

    void AddLine(const std::string& text);
    // Shows the lines that other threads added, in their order; on the user-interface thread.
    void ShowPendingLines();

private:
    QListWidget* List() const;

    std::mutex m_pendingLock;
    std::vector<std::string> m_pendingLines;
};

// A report-style list: rows of texts under the column headers of its template, one row
// selected at a time. Adding rows never changes the selection.
class CListCtrl : public CWnd {
public:
    void DeleteAllItems();
    // Inserts a row at `index` (the end when out of range) with `text` in its first column;
    // its position, or -1.
    int InsertItem(int index, const std::string& text);
    bool SetItemText(int item, int subItem, const std::string& text);
    std::string GetItemText(int item, int subItem) const;
    int GetItemCount() const;
    // The selected row, or -1.
    int GetSelectedItem() const;
    // Selects row `item` (none when out of range) and scrolls it into view.
    void SelectItem(int item);
    // Shows row `item` as one that needs the user's attention: its texts in dark red and a
    // warning sign before the text of column `signColumn`.
    void MarkItem(int item, int signColumn);

private:
    QTreeWidget* Tree() const;
};
