#include "ui/Certificates.h"

#include "manager/CertificateTexts.h"
#include "ui/resource.h"

namespace {

const char* const kNoCertificates = "Nessun certificato sul token";
// The column whose text a faulty certificate's warning sign stands before.
constexpr int kStateColumn = 3;

std::string OrDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

std::string Line(const char* name, const std::string& value) {
    return std::string(name) + ": " + OrDash(value) + "\n";
}

}  // namespace

std::array<std::string, 4> CertificateRow(const TokenCertificate& certificate) {
    const CertificateContent& content = certificate.content;
    const bool read = content.state != CertificateState::Unreadable;
    return {OrDash(CertificateName(certificate)), OrDash(content.issuerCommonName),
            read ? LocalDate(content.validUntil) : "-", CertificateStateText(content.state)};
}

std::string CertificateDetails(const TokenCertificate& certificate) {
    std::string text;
    for (const CertificateField& field : CertificateFields(certificate)) {
        text += Line(field.name, field.value);
    }
    text.pop_back();  // no empty line at the end
    return text;
}

CCertificates::CCertificates(CDialogEx* parent) : CDialogEx(IDD_CERTIFICATES, parent) {}

BEGIN_MESSAGE_MAP(CCertificates, CDialogEx)
ON_BN_CLICKED(IDOK, &ThisClass::OnOK)
ON_LVN_ITEMCHANGED(IDC_CERTIFICATE_LIST, &ThisClass::OnSelectionChanged)
END_MESSAGE_MAP()

void CCertificates::DoDataExchange(CDataExchange* pDX) {
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_CERTIFICATE_LIST, m_list);
    DDX_Control(pDX, IDC_CERTIFICATE_DETAILS, m_detailsEdit);
}

bool CCertificates::OnInitDialog() {
    CDialogEx::OnInitDialog();
    CenterWindow();
    for (const TokenCertificate& certificate : m_certificates) {
        const std::array<std::string, 4> row = CertificateRow(certificate);
        int item = m_list.InsertItem(-1, row[0]);
        for (int column = 1; column < static_cast<int>(row.size()); ++column) {
            m_list.SetItemText(item, column, row[column]);
        }
        if (certificate.content.state != CertificateState::Valid) {
            m_list.MarkItem(item, kStateColumn);
        }
    }
    m_list.SelectItem(0);
    OnSelectionChanged();
    return true;
}

void CCertificates::OnSelectionChanged() {
    if (m_certificates.empty()) {
        m_detailsEdit.SetWindowText(kNoCertificates);
        return;
    }
    const int selected = m_list.GetSelectedItem();
    m_detailsEdit.SetWindowText(selected >= 0 && selected < static_cast<int>(m_certificates.size())
                                    ? CertificateDetails(m_certificates[selected])
                                    : std::string());
}
