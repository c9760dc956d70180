#include "ui/PinDialog.h"

#include <QWidget>
#include <utility>

#include "common/SecretString.h"
#include "common/Wipe.h"
#include "manager/PinWarning.h"
#include "ui/resource.h"

CStartTest::CStartTest(CDialogEx* parent) : CDialogEx(IDD_START_TEST, parent) {}

CStartTest::~CStartTest() {
    Wipe(m_pin);
}

std::string CStartTest::TakePin() {
    std::string pin = std::move(m_pin);
    // A short text is moved by copying its characters: the member still holds them.
    Wipe(m_pin);
    return pin;
}

bool CStartTest::OnInitDialog() {
    CDialogEx::OnInitDialog();
    SetDlgItemText(IDC_PIN_WARNING, PinWarningText(m_tokenFlags));
    if (QWidget* warning = GetDlgItem(IDC_PIN_WARNING)) {
        warning->setStyleSheet(QStringLiteral("color: #b00000;"));
    }
    return true;
}

void CStartTest::DoDataExchange(CDataExchange* pDX) {
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PIN, m_pinEdit);
    if (pDX->m_bSaveAndValidate) {
        // Not through DDX_Text, whose copies of the text would be left unwiped.
        m_pinEdit.TakeSecretText(m_pin);
        return;
    }
    // The field opens empty, also after an earlier run.
    Wipe(m_pin);
    DDX_Text(pDX, IDC_PIN, m_pin);
    // The signing test presents no longer PIN.
    DDV_MaxChars(pDX, m_pin, static_cast<int>(kMaxPinBytes));
}

void CStartTest::OnCancel() {
    // What was typed goes unused: out of the field, then overwritten.
    m_pinEdit.TakeSecretText(m_pin);
    Wipe(m_pin);
    CDialogEx::OnCancel();
}
