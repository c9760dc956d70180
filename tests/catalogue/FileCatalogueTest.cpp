// A program without the embedded catalogue: the manager reads ./cardlist.json.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "CatalogueTestSupport.h"
#include "manager/SmartCardManager.h"
#include "support/TempDir.h"

namespace {

TEST(FileCatalogue, ConstructorLoadsTheFileOfTheCurrentDirectory) {
    TempDir dir;
    WriteFile("cardlist.json", R"({"version": "9.9", "linux": [{"type": "CCID", "atr": "3B00",
                                   "drivers": "libx.so"}]})");
    CSmartCardManager manager;
    EXPECT_EQ(manager.m_cardList["version"].asString(), "9.9");
    std::unique_ptr<CardDefinition> card(manager.FindCardJson("Reader", "3B00"));
    ASSERT_TRUE(card);
    EXPECT_EQ(card->drivers, "libx.so");
}

TEST(FileCatalogue, ConstructorFailsWithoutAnyCatalogueAndLogKeepsMessage) {
    TempDir dir;
    EXPECT_THROW(CSmartCardManager manager, std::runtime_error);
    EXPECT_TRUE(LogHasRecord(ReadLogRecords(), "CSmartCardManager::InitCardList",
                             "File definizione carte non trovato"));
}

}  // namespace
