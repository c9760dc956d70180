#pragma once

#include <QIcon>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ui/framework/BusyWait.h"
#include "ui/framework/Controls.h"
#include "ui/framework/MessageMap.h"
#include "ui/framework/SystemMenu.h"

class DialogWidget;
class QDialog;
class QPoint;
class QWidget;

// ---- Data exchange between controls and members ----

class CDataExchange {
public:
    CDataExchange(CDialogEx* dialog, bool saveAndValidate)
        : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
    CDialogEx* m_pDlgWnd;
    bool m_bSaveAndValidate;  // true: controls to members; false: members to controls
    int m_idLastControl = 0;  // the control that the last DDX_Text moved
};

// Binds `control` to the dialog's control `id` (both directions; binding again is harmless).
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
// Moves a text between the control `id` and `value`.
void DDX_Text(CDataExchange* pDX, int id, std::string& value);
// Limits the edit control `id` to `characters` when the dialog opens.
void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int characters);

// ---- The dialog ----

class CDialogEx {
public:
    explicit CDialogEx(int templateId, CDialogEx* parent = nullptr);
    virtual ~CDialogEx();
    CDialogEx(const CDialogEx&) = delete;
    CDialogEx& operator=(const CDialogEx&) = delete;

    // Builds the dialog from its template, initialises it and runs it until EndDialog.
    // Returns the code given to EndDialog, or -1 when the dialog could not be built (no such
    // template, or the dialog is open already). Throws std::logic_error when the framework
    // cannot build it at all: no resources registered, or a control kind without maker.
    int DoModal();
    // The same without a loop of its own: the dialog stays open until DestroyWindow.
    bool Create();
    void DestroyWindow();
    void EndDialog(int result);

    bool UpdateData(bool saveAndValidate);
    QWidget* GetDlgItem(int id) const;
    void SetDlgItemText(int id, const std::string& text);
    std::string GetDlgItemText(int id) const;
    CMenu* GetSystemMenu();
    void SetIcon(const QIcon& icon, bool bigIcon);
    void CenterWindow();

    QDialog* GetWidget() const;

    // Routes a notification of control `id` through the message maps; the fall-backs for
    // OK and Cancel are OnOK and OnCancel. Returns whether a handler ran.
    bool OnCommand(Notification notification, int id);
    void SendSysCommand(unsigned id, intptr_t param = 0);

    // Runs `work` on a worker thread with RunBusyWork (ui/framework/BusyWork.h): the window
    // stays painted and closable, input is held back, the work's lines go to `statusList`,
    // and so does an exception from the work. Only one at a time; commands are refused
    // meanwhile.
    uint32_t RunBusy(const std::function<uint32_t()>& work, CListBox& statusList);
    // What this dialog's busy work waits for, as its indicator and the log name it; until
    // then they name nothing in particular.
    void SetBusyWait(BusyWait wait);

    // Runs `handler` once the dialog is idle: at once when none of its handlers, busy work
    // or menus is under way, otherwise once the last of them has ended, from the event loop.
    // A handler asked for again before it ran runs once.
    void RunWhenIdle(CommandHandler handler);

    // A test seam: called once a modal dialog's loop runs, with the dialog.
    static void SetModalObserver(std::function<void(CDialogEx&)> observer);

    static const MessageMap* GetThisMessageMap();
    virtual const MessageMap* GetMessageMap() const;

protected:
    virtual bool OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK();
    virtual void OnCancel();
    // Standard processing of the system commands: close ends the dialog as Cancel does.
    void OnSysCommand(unsigned id, intptr_t param);

private:
    // Counts what is under way in the dialog (a handler, busy work, a menu, the
    // initialisation) while it lives; the last one to end lets the idle handlers run.
    class UnderWay {
    public:
        explicit UnderWay(CDialogEx& dialog);
        ~UnderWay();
        UnderWay(const UnderWay&) = delete;
        UnderWay& operator=(const UnderWay&) = delete;

    private:
        CDialogEx& m_dialog;
    };

    bool Build(QWidget* owner);
    void ShowContextMenu(const QPoint& globalPos);
    void RunIdleHandlers();

    int m_templateId;
    CDialogEx* m_parent;
    QPointer<DialogWidget> m_widget;
    std::vector<std::pair<int, QPointer<QWidget>>> m_controls;
    CMenu m_systemMenu;
    bool m_hasSystemMenu = false;
    bool m_ended = false;
    int m_result = -1;
    bool m_busy = false;
    int m_underWay = 0;
    std::vector<CommandHandler> m_idleHandlers;
    BusyWait m_busyWait;
};
