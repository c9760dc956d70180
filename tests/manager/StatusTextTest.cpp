#include "manager/StatusText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/MessageList.h"
#include "manager/StatusTemplates.h"

namespace {

TEST(StatusTextTest, ErrorStatusFillsNameAndSystemText) {
    EXPECT_STREQ(FormatErrorStatus(193, "x.dll", 311),
                 "Errore durante il caricamento del driver della smart card (x.dll): non è "
                 "un'applicazione Win32 valida.");
    EXPECT_STREQ(FormatErrorStatus(126, "libnone.so", 311),
                 "Errore durante il caricamento del driver della smart card (libnone.so): The "
                 "specified module could not be found.");
    EXPECT_STREQ(FormatErrorStatus(0, nullptr, 316), "Nessuna smart card trovata");
    EXPECT_STREQ(FormatErrorStatus(0x8010001D, nullptr, 319),
                 "Errore nelle librerie del lettore: Service not available.");
    // The reader name only: 314 has no place for the system text.
    EXPECT_STREQ(FormatErrorStatus(0x80100069, "Virtual PCD 00 01", 314),
                 "Errore durante la connessione alla smart card in 'Virtual PCD 00 01'");
    // A code without a system text leaves its place empty.
    EXPECT_STREQ(FormatErrorStatus(0x80100099, nullptr, 319),
                 "Errore nelle librerie del lettore: ");
    // No name and code 0: both places of 311 stay empty.
    EXPECT_STREQ(FormatErrorStatus(0, nullptr, 311),
                 "Errore durante il caricamento del driver della smart card (): ");
}

TEST(StatusTextTest, StatusTakesTextsThenCode) {
    EXPECT_STREQ(FormatStatus(0xE0, "x.dll", "C_OpenSession", 320),
                 "Errore durante l'utilizzo del driver (x.dll) sulla funzione 'C_OpenSession': "
                 "0x000000e0");
    EXPECT_STREQ(FormatStatus(0, "libb.so", "serial number", 323),
                 "Abbinato driver 'libb.so' in base al filtro 'serial number'");
    EXPECT_STREQ(FormatStatus(0x63, "01", "C_SignInit", 324),
                 "La credenziale '01' ha generato l'errore 'C_SignInit': 0x00000063");
}

TEST(StatusTextTest, EachFunctionKeepsItsOwnBufferUntilItsNextCall) {
    const char* error = FormatErrorStatus(0, nullptr, 316);
    const char* status = FormatStatus(5, "a", "b", 320);
    EXPECT_STREQ(error, "Nessuna smart card trovata");
    EXPECT_NE(error, status);
    EXPECT_EQ(FormatErrorStatus(0, nullptr, 321), error);
}

TEST(StatusTextTest, LongTextsAreCutAt259Characters) {
    std::string name(400, 'n');
    const char* error = FormatErrorStatus(126, name.c_str(), 311);
    EXPECT_EQ(std::strlen(error), 259u);
    EXPECT_EQ(std::string(error).rfind("Errore durante il caricamento", 0), 0u);
    const char* status = FormatStatus(0xE0, name.c_str(), "C_OpenSession", 320);
    EXPECT_EQ(std::strlen(status), 259u);
}

TEST(StatusTextTest, CutNeverSplitsAUtf8Character) {
    const std::string prefix = "Errore durante il caricamento del driver della smart card (";
    // The two bytes of 'è' fall on positions 258 and 259: only the first would fit.
    std::string filler(259 - prefix.size() - 1, 'a');
    EXPECT_EQ(FormatErrorStatus(0, (filler + "è").c_str(), 311), prefix + filler);
    // One 'a' less and the whole character fits.
    filler.pop_back();
    EXPECT_EQ(FormatErrorStatus(0, (filler + "è").c_str(), 311), prefix + filler + "è");
}

TEST(StatusTextTest, MissingTemplateGivesEmptyText) {
    EXPECT_STREQ(FormatErrorStatus(126, "x", 999), "");
    EXPECT_STREQ(FormatStatus(1, "a", "b", 999), "");
}

TEST(StatusTextTest, StringTableHoldsTheAboutEntry) {
    EXPECT_EQ(LoadTableString(101), "&Informazioni su Lumidor...");
}

// Every named template is in the string table.
TEST(StatusTextTest, EveryNamedTemplateHasItsText) {
    for (int id :
         {kStatusDriverLoadError, kStatusNoReaders, kStatusConnectError, kStatusAttributeError,
          kStatusNoCard, kStatusCardUnknown, kStatusTestFailed, kStatusReaderLibraryError,
          kStatusDriverCallError, kStatusTestPassed, kStatusDriverFound, kStatusFilterMatched,
          kStatusKeyError, kStatusNoEntryPoint, kStatusSystemAtrList, kStatusSystemDriver,
          kStatusCardChanged, kStatusNoService, kStatusStartService}) {
        EXPECT_FALSE(LoadTableString(id).empty()) << id;
    }
}

TEST(StatusTextTest, AddStatusLineAppendsInOrderAndIgnoresNoList) {
    MemoryMessageList list;
    AddStatusLine(&list, "one");
    AddStatusLine(&list, "two");
    AddStatusLine(nullptr, "three");
    EXPECT_EQ(list.lines, (std::vector<std::string>{"one", "two"}));
}

}  // namespace
