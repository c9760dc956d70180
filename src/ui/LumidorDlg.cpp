#include "ui/LumidorDlg.h"

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "log/Log.h"
#include "manager/StatusText.h"
#include "ui/AboutDlg.h"
#include "ui/Certificates.h"
#include "ui/DriverWait.h"
#include "ui/PinDialog.h"
#include "ui/TokenInfo.h"
#include "ui/framework/ProgramResources.h"
#include "ui/resource.h"

namespace {

// A driver call that is still under way after this is named; so is a module's start
// (whatever the work's age) that lasts longer than the second.
constexpr auto kNameDriverCallAfter = std::chrono::seconds(5);
constexpr auto kNameDriverStartAfter = std::chrono::seconds(2);

}  // namespace

CLumidorDlg::CLumidorDlg() : CDialogEx(IDD_LUMIDOR_DIALOG), m_hIcon(LoadIcon(IDR_MAINFRAME)) {
    SetBusyWait(DriverWait(kNameDriverCallAfter, kNameDriverStartAfter));
}

CLumidorDlg::~CLumidorDlg() {
    // The watcher logs and posts to the window: it ends first.
    m_readerWatcher.reset();
    // The list box goes with the window; the manager must not report into it afterwards.
    m_manager.m_statusList = nullptr;
    DestroyWindow();
}

BEGIN_MESSAGE_MAP(CLumidorDlg, CDialogEx)
ON_WM_SYSCOMMAND()
ON_BN_CLICKED(IDC_REFRESH, &ThisClass::OnRefresh)
ON_BN_CLICKED(IDC_TOKEN_INFO, &ThisClass::OnTokenInfo)
ON_BN_CLICKED(IDC_CERTIFICATES, &ThisClass::OnCertificates)
ON_CBN_SELCHANGE(IDC_READER_COMBO, &ThisClass::OnReaderChanged)
ON_BN_CLICKED(IDC_TEST, &ThisClass::OnTest)
ON_CBN_SELCHANGE(IDC_DRIVER_COMBO, &ThisClass::OnDriverChanged)
END_MESSAGE_MAP()

void CLumidorDlg::DoDataExchange(CDataExchange* pDX) {
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_READER_COMBO, m_readerCombo);
    DDX_Control(pDX, IDC_TOKEN_INFO, m_tokenInfoButton);
    DDX_Control(pDX, IDC_CERTIFICATES, m_certificatesButton);
    DDX_Control(pDX, IDC_ATR, m_atrEdit);
    DDX_Control(pDX, IDC_DRIVER_PATH, m_driverPathEdit);
    DDX_Control(pDX, IDC_CARD_DRIVERS, m_cardDriversEdit);
    DDX_Control(pDX, IDC_DRIVER_COMBO, m_driverCombo);
    DDX_Control(pDX, IDC_DRIVER_VERSION, m_driverVersionEdit);
    DDX_Control(pDX, IDC_MESSAGE_LIST, m_messageList);
    DDX_Control(pDX, IDC_TEST, m_testButton);
}

bool CLumidorDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();

    std::string aboutText = LoadTableString(IDS_ABOUTBOX);
    if (CMenu* systemMenu = GetSystemMenu(); systemMenu != nullptr && !aboutText.empty()) {
        systemMenu->AppendSeparator();
        systemMenu->AppendItem(IDM_ABOUTBOX, aboutText);
    }
    SetIcon(m_hIcon, true);
    SetIcon(m_hIcon, false);

    ClearCardFields();
    m_messageList.ResetContent();
    m_messageList.SetHorizontalExtent(1024);
    m_manager.m_statusList = &m_statusLines;

    ListReaders();
    WatchReaders();
    return true;
}

void CLumidorDlg::WatchReaders() {
    m_readerWatcher.reset();
    std::vector<WatchedReader> seen;
    for (uint32_t i = 0; i < m_manager.m_readerCount && m_manager.m_readers[i].szReader != nullptr;
         ++i) {
        seen.push_back({m_manager.m_readers[i].szReader, m_manager.m_readers[i].dwEventState});
    }
    m_readerWatcher =
        std::make_unique<ReaderWatcher>(std::move(seen), [this] { m_readersChanged.Post(); });
}

void CLumidorDlg::ListReaders() {
    RunBusy([this] { return m_manager.UpdateReaders(); }, m_messageList);
    int withCard = FillReaderList();
    if (withCard >= 0) {
        m_readerCombo.SetCurSel(withCard);
        RefreshCardView(-1, withCard);
    }
}

void CLumidorDlg::ClearCardFields() {
    m_atrEdit.SetWindowText("");
    m_cardDriversEdit.SetWindowText("");
    m_driverPathEdit.SetWindowText("");
    m_driverVersionEdit.SetWindowText("");
    m_tokenInfoButton.EnableWindow(false);
    m_certificatesButton.EnableWindow(false);
    m_testButton.EnableWindow(false);
}

int CLumidorDlg::FillReaderList() {
    int withCard = -1;
    for (int i = 0; i < kMaxReaders && i < static_cast<int>(m_manager.m_readerCount) &&
                    m_manager.m_readers[i].szReader != nullptr;
         ++i) {
        m_readerCombo.AddString(m_manager.m_readers[i].szReader);
        if (withCard < 0 && (m_manager.m_readers[i].dwEventState & SCARD_STATE_PRESENT)) {
            withCard = i;
        }
    }
    return withCard;
}

void CLumidorDlg::RefreshCardView(int driverIndex, int readerIndex) {
    uint32_t result = RunBusy(
        [this, driverIndex, readerIndex] {
            uint32_t outcome = 0;
            if (readerIndex >= 0) {
                outcome = m_manager.CheckCardInReader(readerIndex);
            }
            if (driverIndex >= 0) {
                outcome = m_manager.CheckDriver(driverIndex);
            }
            return outcome;
        },
        m_messageList);

    const CardView view = m_manager.View();
    m_atrEdit.SetWindowText(view.atr);
    m_cardDriversEdit.SetWindowText(view.cardDrivers);
    for (int i = m_driverCombo.GetCount() - 1; i >= 0; --i) {
        m_driverCombo.DeleteString(i);
    }
    for (const std::string& driver : view.drivers) {
        m_driverCombo.AddString(driver);
    }
    m_driverCombo.SetCurSel(m_driverCombo.FindStringExact(-1, view.driverInUse));
    m_driverPathEdit.SetWindowText(view.driverPath);
    m_driverVersionEdit.SetWindowText(view.driverVersion);
    m_tokenInfoButton.EnableWindow(result == 0);
    m_certificatesButton.EnableWindow(result == 0);
    m_testButton.EnableWindow(result == 0);
}

void CLumidorDlg::OnRefresh() {
    m_readerCombo.ResetContent();
    ClearCardFields();
    m_messageList.ResetContent();
    ListReaders();
    UpdateData(true);
}

void CLumidorDlg::OnReadersChanged() {
    LOG_MESSAGE(0, 0, "CLumidorDlg::OnReadersChanged", "Readers or cards changed: listed again.");
    OnRefresh();
}

void CLumidorDlg::OnReaderChanged() {
    ClearCardFields();
    RefreshCardView(-1, m_readerCombo.GetCurSel());
}

void CLumidorDlg::OnDriverChanged() {
    RefreshCardView(m_driverCombo.GetCurSel(), -1);
}

void CLumidorDlg::OnTokenInfo() {
    CTokenInfo info(this);
    info.m_details = m_manager.View().token;
    info.DoModal();
}

void CLumidorDlg::OnCertificates() {
    CCertificates certificates(this);
    certificates.m_certificates = m_manager.View().certificates;
    certificates.DoModal();
}

void CLumidorDlg::OnTest() {
    CStartTest pinDialog(this);
    for (;;) {
        pinDialog.m_tokenFlags = m_manager.View().token.flags;
        int answer = pinDialog.DoModal();
        if (answer != IDOK) {
            // Cancel, and also a dialog that could not be shown: never ask without end.
            return;
        }
        if (!pinDialog.m_pin.empty()) {
            break;
        }
    }
    int reader = m_readerCombo.GetCurSel();
    if (reader >= 0) {
        // The PIN leaves the dialog once, straight into TestCard's own copy, which TestCard
        // wipes; the dialog wipes what it kept.
        const uint32_t result = RunBusy(
            [this, reader, &pinDialog] {
                return m_manager.TestCard(reader, SecretString(pinDialog.TakePin()));
            },
            m_messageList);
        if (result == kCardChanged) {
            // The card under the PIN was not the checked one: the window catches up with the
            // reader as for any card change (once, if the watcher saw it too).
            RunWhenIdle(static_cast<CommandHandler>(&CLumidorDlg::OnReadersChanged));
        }
    }
}

void CLumidorDlg::OnSysCommand(unsigned id, intptr_t param) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    } else {
        CDialogEx::OnSysCommand(id, param);
    }
}
