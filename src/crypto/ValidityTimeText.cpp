#include "crypto/ValidityTimeText.h"

#include "crypto/DerValue.h"

namespace {

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kVersionTag = 0xA0;  // [0] EXPLICIT, before the serial number
constexpr unsigned char kUtcTime = 0x17;
constexpr unsigned char kGeneralizedTime = 0x18;

// The value at `at`, and `at` and `rest` moved past it.
bool Next(const unsigned char*& at, std::size_t& rest, DerValue& value) {
    if (!ReadDerValue(at, rest, value)) {
        return false;
    }
    at += value.totalLength;
    rest -= value.totalLength;
    return true;
}

int DaysInMonth(int month, int year) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// Reads a text of digits and a time zone left to right.
class TimeText {
public:
    TimeText(const unsigned char* text, std::size_t length) : m_text(text), m_length(length) {}

    bool AtDigit() const { return m_at < m_length && m_text[m_at] >= '0' && m_text[m_at] <= '9'; }
    bool AtEnd() const { return m_at == m_length; }
    bool Take(char c) {
        if (m_at < m_length && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    // Two digits whose number lies in [low, high].
    bool Field(int low, int high, int& value) {
        if (!AtDigit()) {
            return false;
        }
        value = (m_text[m_at++] - '0') * 10;
        if (!AtDigit()) {
            return false;
        }
        value += m_text[m_at++] - '0';
        return value >= low && value <= high;
    }
    void SkipDigits() {
        while (AtDigit()) {
            ++m_at;
        }
    }

private:
    const unsigned char* m_text;
    std::size_t m_length;
    std::size_t m_at = 0;
};

// UTCTime YYMMDDHHMM[SS] and GeneralizedTime YYYYMMDDHHMM[SS[.f...]], then Z or an offset
// +hhmm/-hhmm, each field in its range: what OpenSSL's ASN1_TIME_to_tm takes.
bool IsTime(const DerValue& time) {
    TimeText text(time.content, time.contentLength);
    int century = 0;
    int year = 0;
    int month = 0;
    int day = 0;
    int unused = 0;
    if (time.tag == kGeneralizedTime && !text.Field(0, 99, century)) {
        return false;
    }
    if (!text.Field(0, 99, year)) {
        return false;
    }
    // UTCTime's years run from 1950 to 2049 (RFC 5280, 4.1.2.5.1).
    year += time.tag == kGeneralizedTime ? century * 100 : (year < 50 ? 2000 : 1900);
    if (!text.Field(1, 12, month) || !text.Field(1, DaysInMonth(month, year), day) ||
        !text.Field(0, 23, unused) || !text.Field(0, 59, unused)) {
        return false;
    }
    if (text.AtDigit()) {
        if (!text.Field(0, 59, unused)) {
            return false;
        }
        if (time.tag == kGeneralizedTime && text.Take('.')) {
            if (!text.AtDigit()) {
                return false;
            }
            text.SkipDigits();
        }
    }
    if (text.Take('Z')) {
        return text.AtEnd();
    }
    if (text.Take('+') || text.Take('-')) {
        return text.Field(0, 12, unused) && text.Field(0, 59, unused) && text.AtEnd();
    }
    return false;
}

}  // namespace

bool ValidityTimesAreTimes(const unsigned char* der, std::size_t length) {
    DerValue certificate;
    DerValue toBeSigned;
    if (!ReadDerValue(der, length, certificate) || certificate.tag != kSequence ||
        !ReadDerValue(certificate.content, certificate.contentLength, toBeSigned) ||
        toBeSigned.tag != kSequence) {
        return true;
    }
    const unsigned char* at = toBeSigned.content;
    std::size_t rest = toBeSigned.contentLength;
    DerValue field;
    if (!Next(at, rest, field)) {
        return true;
    }
    // The serial number, the signature algorithm and the issuer come before the validity.
    const int skipped = field.tag == kVersionTag ? 3 : 2;
    for (int i = 0; i < skipped; ++i) {
        if (!Next(at, rest, field)) {
            return true;
        }
    }
    DerValue validity;
    if (!Next(at, rest, validity) || validity.tag != kSequence) {
        return true;
    }
    at = validity.content;
    rest = validity.contentLength;
    DerValue time;
    while (Next(at, rest, time)) {
        if ((time.tag == kUtcTime || time.tag == kGeneralizedTime) && !IsTime(time)) {
            return false;
        }
    }
    return true;
}
