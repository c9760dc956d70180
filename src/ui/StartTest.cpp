#include "ui/StartTest.h"

#include <QWidget>

#include "manager/PinWarning.h"
#include "ui/resource.h"

namespace {
// The signing test copies the PIN into a buffer of this size.
constexpr int kMaxPinCharacters = 64;
}  // namespace

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
