#include "ui/StartTest.h"

#include <QWidget>

#include "ui/resource.h"

namespace {
// The signing test copies the PIN into a buffer of this size.
constexpr int kMaxPinCharacters = 64;
}  // namespace

std::string PinWarningText(CK_FLAGS flags) {
    if (flags & CKF_USER_PIN_LOCKED) {
        return "Attenzione: il PIN utente è bloccato, il test non potrà accedere al token.";
    }
    if (flags & CKF_USER_PIN_FINAL_TRY) {
        return "Attenzione: resta un solo tentativo, un PIN errato bloccherà il token.";
    }
    if (flags & CKF_USER_PIN_COUNT_LOW) {
        return "Attenzione: sono stati digitati PIN errati, restano pochi tentativi.";
    }
    return {};
}

CStartTest::CStartTest(CDialogEx* parent) : CDialogEx(IDD_START_TEST, parent) {}

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
    // Through a fresh text each time: the field opens empty, also after an earlier run.
    std::string pin;
    DDX_Text(pDX, IDC_PIN, pin);
    DDV_MaxChars(pDX, pin, kMaxPinCharacters);
    m_pin = pin;
}
