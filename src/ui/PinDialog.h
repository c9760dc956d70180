#pragma once

#include <string>

#include "platform/Pkcs11.h"
#include "ui/framework/Dialog.h"

// The PIN dialog shown before the signing test.
class CStartTest : public CDialogEx {
public:
    explicit CStartTest(CDialogEx* parent = nullptr);
    ~CStartTest() override;

    // What was typed, once the dialog closed with "Procedi"; empty after any other end. The
    // field itself is emptied and overwritten whichever way the dialog ends.
    std::string m_pin;
    // The flags of the last token information read; a PIN near or at its lock is warned of.
    CK_FLAGS m_tokenFlags = 0;

    // Hands m_pin over and wipes what the dialog kept of it: the one copy that leaves the
    // dialog is the one returned.
    std::string TakePin();

protected:
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnCancel() override;

private:
    CEdit m_pinEdit;
};
