#pragma once

#include <string>

#include "platform/Pkcs11.h"
#include "ui/framework/Dialog.h"

// The PIN dialog shown before the signing test.
class CStartTest : public CDialogEx {
public:
    explicit CStartTest(CDialogEx* parent = nullptr);

    // What was typed, once the dialog closed with "Procedi".
    std::string m_pin;
    // The flags of the last token information read; a PIN near or at its lock is warned of.
    CK_FLAGS m_tokenFlags = 0;

protected:
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
};
