#pragma once

#include <string>

#include "manager/TokenDetails.h"
#include "ui/framework/Dialog.h"

// The token information dialog: identity, limits and memory of the token in use.
class CTokenInfo : public CDialogEx {
public:
    explicit CTokenInfo(CDialogEx* parent = nullptr);

    TokenDetails m_details;

protected:
    bool OnInitDialog() override;

    DECLARE_MESSAGE_MAP()
};

// A counter as shown: "N/A" when the module says it is unavailable (a value with its top bit
// set, all ones included), otherwise the number, with a unit (Bytes to EB, steps of 1024)
// when asked for.
std::string FormatSize(CK_ULONG value, bool withUnit);

// " Min.= 4, Max.= 8" when the minimum is below the maximum, otherwise " 4" (the minimum);
// an unavailable length counts as -1.
std::string PinLengthText(CK_ULONG minPinLen, CK_ULONG maxPinLen);
