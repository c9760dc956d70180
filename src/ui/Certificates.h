#pragma once

#include <array>
#include <string>
#include <vector>

#include "manager/TokenCertificates.h"
#include "ui/framework/Dialog.h"

// The certificates dialog: the token's certificates as a table, and every field of the
// selected one below it.
class CCertificates : public CDialogEx {
public:
    explicit CCertificates(CDialogEx* parent = nullptr);

    std::vector<TokenCertificate> m_certificates;
    CListCtrl m_list;
    CEdit m_detailsEdit;

    void OnSelectionChanged();

protected:
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;

    DECLARE_MESSAGE_MAP()
};

// A certificate's row: holder (CertificateName), issuer, end of validity (dd/mm/yyyy), state;
// a missing text is "-".
std::array<std::string, 4> CertificateRow(const TokenCertificate& certificate);

// Every field of a certificate, one "Name: value" line each; an unreadable certificate
// shows only what the token says beside it (label, id, private key) and its state.
std::string CertificateDetails(const TokenCertificate& certificate);
