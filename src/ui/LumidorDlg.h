#pragma once

#include <QIcon>
#include <cstdint>
#include <memory>

#include "manager/ReaderWatcher.h"
#include "manager/SmartCardManager.h"
#include "ui/ListBoxMessageList.h"
#include "ui/framework/Dialog.h"
#include "ui/framework/ThreadNotice.h"

// The main window: readers, the card's identity, its driver and the message list.
class CLumidorDlg : public CDialogEx {
public:
    // Constructs the manager (log started, catalogue loaded); throws when the catalogue is
    // missing or invalid, before any window exists.
    CLumidorDlg();
    ~CLumidorDlg() override;

    CSmartCardManager m_manager;
    QIcon m_hIcon;
    CComboBox m_readerCombo;
    CButton m_tokenInfoButton;
    CButton m_certificatesButton;
    CEdit m_atrEdit;
    CEdit m_driverPathEdit;
    CEdit m_cardDriversEdit;
    CComboBox m_driverCombo;
    CEdit m_driverVersionEdit;
    CListBox m_messageList;
    CButton m_testButton;

    // Lists the readers of m_manager in the reader box; the position of the first one that
    // holds a card, or -1.
    int FillReaderList();
    // Runs the card check (readerIndex >= 0) and then the driver check (driverIndex >= 0)
    // and shows the manager's results.
    void RefreshCardView(int driverIndex, int readerIndex);

    void OnRefresh();
    void OnReaderChanged();
    void OnDriverChanged();
    void OnTokenInfo();
    void OnCertificates();
    void OnTest();
    void OnSysCommand(unsigned id, intptr_t param);
    // A card or a reader came or went: what "Aggiorna" does, once no operation runs.
    void OnReadersChanged();

protected:
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;

private:
    void ClearCardFields();
    // Enumerates the readers, lists them and checks the first one that holds a card.
    void ListReaders();
    // Watches for cards and readers that come and go from what the last listing saw.
    void WatchReaders();

    // The manager's status lines, into m_messageList.
    ListBoxMessageList m_statusLines{m_messageList};
    ThreadNotice m_readersChanged{
        [this] { RunWhenIdle(static_cast<CommandHandler>(&CLumidorDlg::OnReadersChanged)); }};
    // Declared after the notice, which must outlive the watcher's thread.
    std::unique_ptr<ReaderWatcher> m_readerWatcher;

    DECLARE_MESSAGE_MAP()
};
