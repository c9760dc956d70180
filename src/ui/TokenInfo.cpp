#include "ui/TokenInfo.h"

#include <charconv>
#include <cstdio>
#include <limits>

#include "ui/resource.h"

namespace {

// On Windows the counters are 32-bit and shown signed, so the module's "unavailable" reads
// as negative. Here CK_ULONG has 64 bits: the top bit marks it, and every smaller value is
// a real one, shown in full.
constexpr CK_ULONG kTopBit = CK_ULONG(1) << (std::numeric_limits<CK_ULONG>::digits - 1);

long long Signed(CK_ULONG value) {
    return (value & kTopBit) ? -1 : static_cast<long long>(value);
}

}  // namespace

std::string FormatSize(CK_ULONG value, bool withUnit) {
    // Below 2^63 a value needs at most six divisions by 1024, so the table ends at EB.
    static const char* const units[] = {"Bytes", "KB", "MB", "GB", "TB", "PB", "EB"};
    char text[64];
    if (value & kTopBit) {
        return "N/A";
    }
    if (!withUnit) {
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    } else if (value <= 1024) {
        std::snprintf(text, sizeof text, "%llu %s", static_cast<unsigned long long>(value),
                      units[0]);
    } else {
        double quotient = static_cast<double>(value);
        int divisions = 0;
        while (quotient > 1024.0) {
            quotient *= 0.0009765625;
            ++divisions;
        }
        // Always a decimal point, whatever the locale the toolkit has set.
        char* end = std::to_chars(text, text + 32, quotient, std::chars_format::fixed, 2).ptr;
        std::snprintf(end, sizeof text - static_cast<std::size_t>(end - text), " %s",
                      units[divisions]);
    }
    return text;
}

std::string PinLengthText(CK_ULONG minPinLen, CK_ULONG maxPinLen) {
    long long minimum = Signed(minPinLen);
    long long maximum = Signed(maxPinLen);
    char text[64];
    if (minimum < maximum) {
        std::snprintf(text, sizeof text, " Min.= %lld, Max.= %lld", minimum, maximum);
    } else {
        std::snprintf(text, sizeof text, " %lld", minimum);
    }
    return text;
}

CTokenInfo::CTokenInfo(CDialogEx* parent) : CDialogEx(IDD_TOKEN_INFO, parent) {}

BEGIN_MESSAGE_MAP(CTokenInfo, CDialogEx)
ON_BN_CLICKED(IDOK, &ThisClass::OnOK)
END_MESSAGE_MAP()

bool CTokenInfo::OnInitDialog() {
    CDialogEx::OnInitDialog();
    CenterWindow();
    SetDlgItemText(IDC_TOKEN_LABEL, " " + m_details.label);
    SetDlgItemText(IDC_TOKEN_MANUFACTURER, " " + m_details.manufacturerId);
    SetDlgItemText(IDC_TOKEN_MODEL, " " + m_details.model);
    SetDlgItemText(IDC_TOKEN_SERIAL, " " + m_details.serialNumber);
    SetDlgItemText(IDC_TOKEN_PIN_LENGTH, PinLengthText(m_details.minPinLen, m_details.maxPinLen));
    SetDlgItemText(IDC_TOKEN_MAX_SESSIONS, " " + FormatSize(m_details.maxSessionCount, false));
    SetDlgItemText(IDC_TOKEN_MAX_RW_SESSIONS, " " + FormatSize(m_details.maxRwSessionCount, false));
    SetDlgItemText(IDC_TOKEN_FREE_PUBLIC, " " + FormatSize(m_details.freePublicMemory, true));
    SetDlgItemText(IDC_TOKEN_TOTAL_PUBLIC, " " + FormatSize(m_details.totalPublicMemory, true));
    SetDlgItemText(IDC_TOKEN_FREE_PRIVATE, " " + FormatSize(m_details.freePrivateMemory, true));
    SetDlgItemText(IDC_TOKEN_TOTAL_PRIVATE, " " + FormatSize(m_details.totalPrivateMemory, true));
    return true;
}
