// Which certificates warn the user after a check, and how the lines read.

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "manager/TokenCertificates.h"

namespace {

constexpr std::time_t kDay = 24 * 60 * 60;
// 10/12/2026 12:00 UTC: midday, so that the local date is the same in every time zone that
// the tests may run in.
constexpr std::time_t kNow = 1796904000;

TokenCertificate Certificate(const std::string& name, CertificateState state, std::time_t from,
                             std::time_t until, bool hasPrivateKey = true) {
    TokenCertificate certificate;
    certificate.label = "label of " + name;
    certificate.id = "01";
    certificate.hasPrivateKey = hasPrivateKey;
    certificate.content.state = state;
    certificate.content.subjectCommonName = name;
    certificate.content.validFrom = from;
    certificate.content.validUntil = until;
    return certificate;
}

struct WarningCase {
    const char* what;
    TokenCertificate certificate;
    std::vector<std::string> lines;
};

class CertificateWarningsTest : public ::testing::TestWithParam<WarningCase> {};

TEST_P(CertificateWarningsTest, WarnsOfTheTokensOwnCertificatesOnly) {
    const WarningCase& c = GetParam();
    EXPECT_EQ(CertificateWarnings({c.certificate}, kNow), c.lines) << c.what;
}

const std::time_t kLongAgo = kNow - 400 * kDay;

INSTANTIATE_TEST_SUITE_P(
    Cases, CertificateWarningsTest,
    ::testing::Values(
        WarningCase{"valid for long",
                    Certificate("Mario Rossi", CertificateState::Valid, kLongAgo, kNow + 31 * kDay),
                    {}},
        WarningCase{"expires within 30 days",
                    Certificate("Mario Rossi", CertificateState::Valid, kLongAgo, kNow + 30 * kDay),
                    {"Attenzione: il certificato 'Mario Rossi' scade il 09/01/2027"}},
        WarningCase{"expires today",
                    Certificate("Mario Rossi", CertificateState::Valid, kLongAgo, kNow + 60),
                    {"Attenzione: il certificato 'Mario Rossi' scade il 10/12/2026"}},
        WarningCase{"expired",
                    Certificate("Anna", CertificateState::Expired, kLongAgo, kNow - 5 * kDay),
                    {"Attenzione: il certificato 'Anna' e' scaduto il 05/12/2026"}},
        WarningCase{"not yet valid",
                    Certificate("Futura", CertificateState::NotYetValid, kNow + 2 * kDay,
                                kNow + 400 * kDay),
                    {"Attenzione: il certificato 'Futura' sara' valido dal 12/12/2026"}},
        WarningCase{"expired, but no key of the token's own",
                    Certificate("CA", CertificateState::Expired, kLongAgo, kNow - kDay, false),
                    {}},
        WarningCase{"unreadable", Certificate("", CertificateState::Unreadable, 0, 0), {}}));

TEST(CertificateNameTest, IsTheHolderElseTheLabelElseTheId) {
    TokenCertificate certificate = Certificate("Mario Rossi", CertificateState::Valid, 0, 0);
    EXPECT_EQ(CertificateName(certificate), "Mario Rossi");
    certificate.content.subjectCommonName.clear();
    EXPECT_EQ(CertificateName(certificate), "label of Mario Rossi");
    certificate.label.clear();
    EXPECT_EQ(CertificateName(certificate), "01");
}

TEST(CertificateWarningsOrderTest, KeepTheTokensOrder) {
    const std::vector<std::string> lines = CertificateWarnings(
        {Certificate("B", CertificateState::Expired, kLongAgo, kNow - kDay),
         Certificate("A", CertificateState::NotYetValid, kNow + kDay, kNow + 9 * kDay)},
        kNow);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("'B'"), std::string::npos);
    EXPECT_NE(lines[1].find("'A'"), std::string::npos);
}

}  // namespace
