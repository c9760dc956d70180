// Identification of a card by ATR and reader name.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "CatalogueTestSupport.h"
#include "common/Hex.h"

namespace {

constexpr const char* kSource = "CSmartCardManager::FindCardJson";

std::unique_ptr<CardDefinition> Find(CSmartCardManager& manager, const std::string& reader,
                                     const std::string& atr) {
    return std::unique_ptr<CardDefinition>(manager.FindCardJson(reader, atr));
}

std::string DriversOf(const std::unique_ptr<CardDefinition>& card) {
    return card ? card->drivers : std::string("(none)");
}

// The ATR text with byte `index` replaced.
std::string WithByte(std::string atr, std::size_t index, const char* hex) {
    atr.replace(index * 2, 2, hex);
    return atr;
}

TEST(AtrToHex, UpperCaseTwoDigitsPerByte) {
    const unsigned char atr[] = {0x3B, 0x8F, 0x00, 0xFF, 0x0A, 0xc1};
    EXPECT_EQ(AtrToHex(atr, sizeof atr), "3B8F00FF0AC1");
    EXPECT_EQ(AtrToHex(atr, 1), "3B");
    EXPECT_EQ(AtrToHex(atr, 0), "");
    EXPECT_EQ(AtrToHex(nullptr, 0), "");
}

const char* const kFixture =
    R"({"version":"1","windows":[{"type":"CCID","atr":"3B0404","drivers":"windows.dll"}],
"linux":[
 {"type":"HID","reader":"Token HID","atr":"3B01","drivers":"hid.so"},
 {"type":"ccid","atr":"3B02","drivers":"lowertype.so"},
 {"atr":"3B02","drivers":"notype.so"},
 {"type":"CCID","atr":"3bff1800aa","drivers":"lower.so"},
 {"type":"CCID","atr":"3b0a0b0c","atrmask":"ff00f0ff","drivers":"masked.so"},
 {"type":"CCID","atr":"3B0102","drivers":"prefix.so"},
 {"type":"CCID","reader":"AKS","atr":"3B0303","drivers":"aks.so"},
 {"type":"CCID","atr":"3B0303","drivers":"plain.so"},
 {"type":"CCID","atr":"3B0404","drivers":"first.so"},
 {"type":"CCID","reader":"Special","atr":"3B0404","drivers":"shadowed.so"}
]})";

struct LookupCase {
    const char* name;
    const char* reader;
    const char* atr;
    const char* drivers;  // "(none)" when nothing matches
};

const LookupCase kLookupCases[] = {
    {"HidNeverReturned", "Token HID", "3B01", "(none)"},
    {"TypeIsCaseSensitive", "Reader", "3B02", "(none)"},
    {"LowerCaseCatalogueAtr", "Reader", "3BFF1800AA", "lower.so"},
    {"LowerCaseCardAtr", "Reader", "3bff1800aa", "lower.so"},
    {"MaskIgnoresByte", "Reader", "3B770F0C", "masked.so"},
    {"MaskComparesHighNibble", "Reader", "3B77050C", "masked.so"},
    {"MaskNibbleDiffers", "Reader", "3B771B0C", "(none)"},
    {"MaskedExactByteDiffers", "Reader", "3B770F0D", "(none)"},
    {"MaskedLongerCardAtr", "Reader", "3B770F0C00", "(none)"},
    {"MaskedShorterCardAtr", "Reader", "3B770F", "(none)"},
    {"WholeAtr", "Reader", "3B0102", "prefix.so"},
    {"PrefixDoesNotMatch", "Reader", "3B010203", "(none)"},
    {"ReaderNarrowed", "SafeNet AKS ifdh 00 00", "3B0303", "aks.so"},
    {"ReaderElsewhere", "Generic CCID 00 00", "3B0303", "plain.so"},
    {"ReaderCaseMatters", "safenet aks ifdh", "3B0303", "plain.so"},
    {"EarlierEntryShadows", "Special reader", "3B0404", "first.so"},
    {"EmptyAtr", "Reader", "", "(none)"},
    {"Unknown", "Reader", "3B0505", "(none)"},
};

class CardLookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(CardLookup, FirstMatchingEntry) {
    const LookupCase& c = GetParam();
    ManagerInTempDir m;
    m.Load(kFixture);
    EXPECT_EQ(DriversOf(Find(*m.manager, c.reader, c.atr)), c.drivers);
}

INSTANTIATE_TEST_SUITE_P(Cases, CardLookup, ::testing::ValuesIn(kLookupCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CardLookup, ResultCarriesTheEntry) {
    ManagerInTempDir m;
    m.Load(R"({"version":"1","linux":[
      {"type":"CCID","reader":"R","atr":"3b01","atrmask":"FFFF","drivers":"a.so,b.so","askpin":"true",
       "tryreusedriver":"true","filter":"{'serial':{'74':'b.so'}}","comment":"x"},
      {"type":"CCID","atr":"3B02","drivers":"c.so","askpin":"True","tryreusedriver":"TRUE"},
      {"type":"CCID","atr":"3B03","drivers":"d.so","askpin":"false"}]})");

    auto full = Find(*m.manager, "R 00", "3B01");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->atr, "3b01");
    EXPECT_EQ(full->atrMask, "FFFF");
    EXPECT_EQ(full->drivers, "a.so,b.so");
    EXPECT_EQ(full->askPin, 1);
    EXPECT_EQ(full->tryReuseDriver, 1);
    EXPECT_EQ(full->filter, "{'serial':{'74':'b.so'}}");
    EXPECT_EQ(full->reader, "R");

    for (const char* atr : {"3B02", "3B03"}) {
        auto card = Find(*m.manager, "R", atr);
        ASSERT_TRUE(card) << atr;
        EXPECT_EQ(card->askPin, 0) << atr;
        EXPECT_EQ(card->tryReuseDriver, 0) << atr;
        EXPECT_EQ(card->atrMask, "") << atr;
        EXPECT_EQ(card->filter, "") << atr;
        EXPECT_EQ(card->reader, "") << atr;
    }
}

TEST(CardLookup, EmptyArrayKnowsNoCard) {
    ManagerInTempDir m;
    m.Load(
        R"({"version":"1","windows":[{"type":"CCID","atr":"3B01","drivers":"w.dll"}],"linux":[]})");
    EXPECT_FALSE(Find(*m.manager, "R", "3B01"));
}

TEST(CardLookup, MissingArrayIsLoggedAndThrown) {
    ManagerInTempDir m;
    m.Load(R"({"version":"1","linux":[]})");
    m.manager->m_cardList.removeMember("linux");
    try {
        Find(*m.manager, "R", "3B01");
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Array per sistema operativo non valido");
    }
    m.manager->m_cardList["linux"] = "text";
    EXPECT_THROW(Find(*m.manager, "R", "3B01"), std::runtime_error);
    EXPECT_TRUE(
        LogHasRecord(m.StopAndReadLog(), kSource, "Array per sistema operativo non valido"));
}

// A member of the wrong kind must not throw out of the lookup: the entry is skipped and
// logged by its index, and later entries still count.
TEST(CardLookup, MalformedEntriesAreSkippedAndLogged) {
    ManagerInTempDir m;
    m.Load(R"({"version":"1","linux":[
      5,
      null,
      {"type":7,"atr":"3B06","drivers":"bad.so"},
      {"type":"CCID","atr":["3B06"],"drivers":"bad.so"},
      {"type":"CCID","atr":"3B06","drivers":{"a":"bad.so"}},
      {"type":"CCID","atr":"3B06","drivers":"bad.so","askpin":true},
      {"type":"CCID","atr":"3B06","drivers":"bad.so","filter":null},
      {"type":"CCID","atr":"3B06","drivers":"good.so"}]})");
    std::unique_ptr<CardDefinition> card;
    EXPECT_NO_THROW(card = Find(*m.manager, "R", "3B06"));
    EXPECT_EQ(DriversOf(card), "good.so");

    const std::vector<LoggedRecord> log = m.StopAndReadLog();
    for (int index = 0; index <= 6; ++index) {
        EXPECT_TRUE(LogHasRecord(log, kSource, "Card entry " + std::to_string(index) + " skipped"))
            << index;
    }
    EXPECT_FALSE(LogHasRecord(log, kSource, "Card entry 7 "));
}

// A mask shorter than its ATR leaves bytes uncompared; such an entry identifies no card
// rather than every card that shares its first bytes.
TEST(CardLookup, ShortMaskNeverMatches) {
    ManagerInTempDir m;
    m.Load(R"({"version":"1","linux":[
      {"type":"CCID","atr":"3B0607","atrmask":"FF","drivers":"short.so"},
      {"type":"CCID","atr":"3B0607","atrmask":"FFFFF","drivers":"odd.so"},
      {"type":"CCID","atr":"3B0607","atrmask":"FFFF00","drivers":"full.so"}]})");
    EXPECT_EQ(DriversOf(Find(*m.manager, "R", "3B0607")), "full.so");
    EXPECT_EQ(DriversOf(Find(*m.manager, "R", "3B0699")), "full.so");
    EXPECT_EQ(DriversOf(Find(*m.manager, "R", "3B9907")), "(none)");
}

// Text that is not hexadecimal is read without running past either text.
TEST(CardLookup, MaskedCompareOfNonHexText) {
    ManagerInTempDir m;
    m.Load(R"({"version":"1","linux":[
      {"type":"CCID","atr":"3BZZ1","atrmask":"FFFFF","drivers":"odd.so"}]})");
    EXPECT_EQ(DriversOf(Find(*m.manager, "R", "3B0A1")), "(none)");
    EXPECT_EQ(DriversOf(Find(*m.manager, "R", "3BZZ1")), "odd.so");
}

// The program's own catalogue, on the array this system looks up.
class ProgramCatalogueLookup : public ::testing::Test {
protected:
    std::unique_ptr<CardDefinition> Lookup(const std::string& reader, const std::string& atr) {
        return Find(*m.manager, reader, atr);
    }
    ManagerInTempDir m;
};

TEST_F(ProgramCatalogueLookup, MaskedETokenCard) {
    const std::string atr = "3BF2180000C10A31FE55C80600";
    auto card = Lookup("Generic CCID", atr);
    ASSERT_TRUE(card);
    EXPECT_EQ(card->drivers, "libeTPkcs11.so");
    EXPECT_EQ(card->atrMask, "FFFFFFFF00FFFFFFFFFFFFFF00");
    auto variant = Lookup("Generic CCID", "3BF21800FFC10A31FE55C8068A");
    ASSERT_TRUE(variant);
    EXPECT_EQ(variant->atr, atr);
    EXPECT_FALSE(Lookup("Generic CCID", atr + "00"));
}

TEST_F(ProgramCatalogueLookup, TwoModulesWithSerialFilter) {
    const std::string atr = "3BFF1800FF8131FE55006B02090303010101434E531031809D";
    auto card = Lookup("Generic CCID", atr);
    ASSERT_TRUE(card);
    EXPECT_EQ(card->drivers, "libbit4xpki.so,libbit4ipki.so");
    EXPECT_EQ(card->filter, "{'serial':{'742005':'libbit4ipki.so'}}");
    EXPECT_EQ(card->askPin, 1);
    EXPECT_EQ(card->tryReuseDriver, 1);
    EXPECT_FALSE(Lookup("Generic CCID", atr + "00"));
}

TEST_F(ProgramCatalogueLookup, ReaderNarrowingAndOrder) {
    const std::string atr = "3BE200FFC11031FE55C8029C";
    auto aks = Lookup("AKS ifdh 00 00", atr);
    ASSERT_TRUE(aks);
    EXPECT_EQ(aks->drivers, "libeTPkcs11.so");
    EXPECT_EQ(aks->tryReuseDriver, 0);
    EXPECT_EQ(DriversOf(Lookup("Generic CCID 00 00", atr)), "libgclib.so");
    EXPECT_EQ(DriversOf(Lookup("aks ifdh 00 00", atr)), "libgclib.so");
}

TEST_F(ProgramCatalogueLookup, EarlierEntryShadowsNarrowedOne) {
    const std::string atr = "3BF2180002C10A31FE58C80874";
    const std::string plain = DriversOf(Lookup("Generic CCID", atr));
    EXPECT_NE(plain, "(none)");
    EXPECT_EQ(DriversOf(Lookup("KOBIL mIDentity NonInstall 00 00", atr)), plain);
}

TEST_F(ProgramCatalogueLookup, LowerCaseCatalogueAtr) {
    auto card = Lookup("Generic CCID", "3BFF1800008131FE45006B11050700010001434E5300318000");
    ASSERT_TRUE(card);
    EXPECT_EQ(card->atr, "3bff1800008131fe45006b11050700010001434e5300318000");
}

TEST_F(ProgramCatalogueLookup, MaskedCnsCard) {
    const std::string atr = "3BDF18008131FE7D006B020C0182011101434E53103180FC";
    const std::string mask = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFF0000FFFFFFFFFFFF00";
    for (const std::string& card :
         {atr, WithByte(WithByte(atr, 15, "A5"), 16, "5A"), WithByte(atr, 23, "00")}) {
        auto found = Lookup("Generic CCID", card);
        ASSERT_TRUE(found) << card;
        EXPECT_EQ(found->atr, atr) << card;
        EXPECT_EQ(found->atrMask, mask) << card;
    }
    for (std::size_t byte : {1u, 5u, 14u, 17u, 22u}) {
        auto found = Lookup("Generic CCID", WithByte(atr, byte, "A5"));
        EXPECT_TRUE(!found || found->atr != atr) << byte;
    }
    EXPECT_FALSE(Lookup("Generic CCID", WithByte(atr, 5, "A5")));
}

TEST_F(ProgramCatalogueLookup, HidEntryNeverReturned) {
    EXPECT_FALSE(Lookup("VASCO DIGIPASS KEY 200", "3B00"));
    EXPECT_FALSE(Lookup("Safenet eTokenPRO HID", "3B00"));
}

}  // namespace
